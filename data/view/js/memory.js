// The device memory screen: a hex view over a range of the device's memory, editable byte by
// byte; the changed bytes are written back in one request.
var Memory = (function () {
  'use strict';
  var $ = UI.$, el = UI.el, t = I18n.t, L = I18n.later;

  var MAX_SIZE = 2048;
  // {device, address, bytes: [], edited: [] (null = unchanged), gone: the device left}
  var view = null;

  function hex(n, width) {
    var s = n.toString(16);
    while (s.length < width)
      s = '0' + s;
    return s;
  }

  // Address text as the user typed it: hexadecimal, "0x" optional. null when it is not one.
  function parseAddress(text) {
    var m = /^\s*(?:0x)?([0-9a-f]{1,8})\s*$/i.exec(text);
    return m ? parseInt(m[1], 16) : null;
  }

  function device() {
    var key = $('mem-device').value;
    return DeviceState.list().filter(function (d) {
      return DeviceState.reachable(d) && d.DevicePath === key;
    })[0] || null;
  }

  function fillDevices() {
    var select = $('mem-device');
    var chosen = DeviceState.selected();
    var keep = select.value || (chosen && chosen.DevicePath);
    select.textContent = '';
    DeviceState.list().filter(DeviceState.reachable).forEach(function (d) {
      select.appendChild(el('option', {value: d.DevicePath,
        textContent: DeviceState.name(d) + (d.SN ? ' (' + d.SN + ')' : '')}));
    });
    if (!select.options.length)
      select.appendChild(el('option', {value: '', textContent: t('devices.noneShort')}));
    select.value = keep;
    if (select.selectedIndex < 0)
      select.selectedIndex = 0;
  }

  function read() {
    var status = $('mem-status');
    var d = device();
    if (!d) {
      UI.error(status, L('memory.noDevice'));
      return;
    }
    if (view && view.gone && hasChanges()) {
      UI.error(status, L('memory.keptUnsaved'));
      return;
    }
    var address = parseAddress($('mem-addr').value);
    if (address === null) {
      UI.error(status, L('memory.badAddress', $('mem-addr').value));
      $('mem-addr').focus();
      return;
    }
    var size = Number($('mem-size').value);
    if (!Number.isInteger(size) || size < 1 || size > MAX_SIZE) {
      UI.error(status, L('memory.badSize'));
      $('mem-size').focus();
      return;
    }
    var args = {HardwareID: d.HardwareID, DevicePath: d.DevicePath,
      PARAMADDRESS: '0x' + hex(address, 4), PARAMSIZE: String(size)};
    UI.track(status, Bridge.request('readByAddr', args), L('common.reading'), function (text) {
      var bytes = text ? text.split(',').map(function (s) { return parseInt(s, 16) & 0xff; }) : [];
      if (bytes.length !== size)
        return L('memory.shortAnswer', bytes.length, size);
      view = {device: d, address: address, bytes: bytes, edited: bytes.map(function () { return null; })};
      render();
      return L('memory.read', size, '0x' + hex(address, 4));
    });
  }

  function printable(n) {
    return n >= 0x20 && n < 0x7f ? String.fromCharCode(n) : '.';
  }

  function render() {
    var box = $('mem-view');
    box.textContent = '';
    if (!view) {
      updateButtons();
      return;
    }
    var head = el('div', {className: 'hexrow head', attrs: {'aria-hidden': 'true'}},
      [el('span', {className: 'addr', textContent: ''})]);
    for (var c = 0; c < 16; c++)
      head.appendChild(el('span', {className: 'hexcol', textContent: hex(c, 2)}));
    box.appendChild(head);
    for (var row = 0; row < view.bytes.length; row += 16) {
      var line = el('div', {className: 'hexrow'}, [
        el('span', {className: 'addr', textContent: hex(view.address + row, 8)})]);
      var ascii = '';
      for (var i = row; i < Math.min(row + 16, view.bytes.length); i++) {
        line.appendChild(cell(i));
        ascii += printable(value(i));
      }
      line.appendChild(el('span', {className: 'ascii', textContent: ascii, attrs: {'aria-hidden': 'true'}}));
      box.appendChild(line);
    }
    updateButtons();
  }

  function value(i) {
    var e = view.edited[i];
    return e === null || isNaN(e) ? view.bytes[i] : e;
  }

  function cell(i) {
    var input = el('input', {className: 'hexcell', maxLength: 2, spellcheck: false,
      value: hex(value(i), 2), attrs: {'aria-label': t('memory.byteAt', '0x' + hex(view.address + i, 4)),
        'data-index': String(i)}});
    if (view.edited[i] !== null)
      input.classList.add(isNaN(view.edited[i]) ? 'bad' : 'changed');
    input.addEventListener('input', function () {
      var text = input.value.trim();
      var ok = /^[0-9a-f]{1,2}$/i.test(text);
      var n = ok ? parseInt(text, 16) : NaN;
      view.edited[i] = ok && n === view.bytes[i] ? null : n;
      input.classList.toggle('changed', ok && n !== view.bytes[i]);
      input.classList.toggle('bad', !ok);
      if (ok && text.length === 2)
        focusCell(i + 1, true);
      updateButtons();
    });
    input.addEventListener('keydown', function (e) {
      var step = {ArrowLeft: -1, ArrowRight: 1, ArrowUp: -16, ArrowDown: 16}[e.key];
      if (step && !e.altKey && !e.ctrlKey) {
        e.preventDefault();
        focusCell(i + step, true);
      } else if (e.key === 'Enter') {
        e.preventDefault();
        write();
      } else if (e.key === 'Escape' && view.edited[i] !== null) {
        e.preventDefault();
        e.stopPropagation();
        view.edited[i] = null;
        input.value = hex(view.bytes[i], 2);
        input.classList.remove('changed', 'bad');
        updateButtons();
      }
    });
    input.addEventListener('focus', function () { input.select(); });
    return input;
  }

  function focusCell(i, select) {
    var next = document.querySelector('#mem-view [data-index="' + i + '"]');
    if (next) {
      next.focus();
      if (select)
        next.select();
    }
  }

  function changes() {
    var first = -1, last = -1, bad = -1;
    view.edited.forEach(function (e, i) {
      if (e === null)
        return;
      if (isNaN(e) && bad < 0)
        bad = i;
      if (first < 0)
        first = i;
      last = i;
    });
    return {first: first, last: last, bad: bad};
  }

  function hasChanges() {
    return view && changes().first >= 0;
  }

  function updateButtons() {
    var c = view ? changes() : {first: -1};
    $('mem-write').disabled = c.first < 0 || view.gone;
    $('mem-revert').disabled = c.first < 0;
  }

  // Writes the span from the first to the last changed byte.
  function write() {
    var status = $('mem-status');
    if (!view)
      return;
    if (view.gone) {
      UI.error(status, L('memory.keptUnsaved'));
      return;
    }
    var c = changes();
    if (c.first < 0) {
      UI.setStatus(status, L('memory.nothing'));
      return;
    }
    if (c.bad >= 0) {
      UI.error(status, L('memory.badCell', '0x' + hex(view.address + c.bad, 4)));
      focusCell(c.bad, true);
      return;
    }
    var data = [];
    for (var i = c.first; i <= c.last; i++)
      data.push(value(i));
    var at = view.address + c.first;
    var args = {HardwareID: view.device.HardwareID, DevicePath: view.device.DevicePath,
      PARAMADDRESS: '0x' + hex(at, 4), PARAMSIZE: String(data.length),
      PARAMDATA: data.map(function (n) { return '0x' + hex(n, 2); }).join(',')};
    var written = view;
    UI.track(status, Bridge.request('writeByAddr', args), L('common.writing'), function () {
      if (view === written) {
        data.forEach(function (n, k) {
          view.bytes[c.first + k] = n;
          view.edited[c.first + k] = null;
        });
        render();
      }
      return L('memory.written', data.length, '0x' + hex(at, 4));
    });
  }

  function revert() {
    if (!view)
      return;
    view.edited = view.bytes.map(function () { return null; });
    render();
    UI.setStatus($('mem-status'), L('memory.reverted'));
  }

  // The device of the shown bytes, by its path or else its serial number, among those listed.
  function sameDevice(d) {
    return DeviceState.list().filter(function (x) {
      return DeviceState.reachable(x) &&
        (x.DevicePath === d.DevicePath || (d.SN && x.SN === d.SN));
    })[0] || null;
  }

  // An unplugged device takes nothing with it: the bytes and the changes stay shown until it
  // comes back, and then can be written.
  function devicesChanged() {
    fillDevices();
    if (!view)
      return;
    var back = sameDevice(view.device);
    if (!back && !view.gone) {
      view.gone = true;
      updateButtons();
      UI.setStatus($('mem-status'), hasChanges() ? L('memory.goneKept') : L('memory.deviceGone'),
        hasChanges() ? 'error' : '');
    } else if (back && view.gone) {
      view.gone = false;
      view.device = back;
      $('mem-device').value = back.DevicePath;
      updateButtons();
      UI.setStatus($('mem-status'), L('memory.deviceBack'), 'ok');
    }
  }

  function init() {
    $('mem-form').addEventListener('submit', function (e) {
      e.preventDefault();
      read();
    });
    $('mem-write').addEventListener('click', write);
    $('mem-revert').addEventListener('click', revert);
    DeviceState.watch(devicesChanged);
    fillDevices();
  }

  Screens.add({name: 'memory', init: init, relabel: render});

  return {parseAddress: parseAddress};
})();
