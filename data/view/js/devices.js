// The devices screen: the connected devices (DeviceState), live on hot-plug, with their
// properties, their settings page and their hotkey.
var Devices = (function () {
  'use strict';
  var $ = UI.$, el = UI.el, t = I18n.t;
  var name = DeviceState.name, reachable = DeviceState.reachable, key = DeviceState.key;
  var selected = DeviceState.selected;

  var hotkeys = null; // deviceId -> {hotkey, isconflict}, once getHotKey answered

  // `asked`: a getDevicesList request already under way (the one sent while the page starts).
  function refresh(asked) {
    return UI.track($('dev-status'), asked || Bridge.request('getDevicesList'), t('devices.asking'),
      function (text) {
        if (!DeviceState.take(text)) {
          UI.error($('dev-status'), t('devices.badAnswer', text));
          return null;
        }
        var count = DeviceState.list().length;
        return count ? t('devices.count', count) : t('devices.none');
      });
  }

  function show() {
    renderList();
    renderDetail();
  }

  function renderList() {
    var ul = $('dev-list');
    ul.textContent = '';
    DeviceState.list().forEach(function (d) {
      var sub = reachable(d)
        ? t('devices.cardSub', d.Version || '-', d.SN || '-')
        : t('devices.usbOnly');
      var button = el('button', {type: 'button', className: 'device-card',
        attrs: {'aria-pressed': String(d === selected())},
        on: {click: function () { select(d); }}},
      [el('span', {className: 'device-name', textContent: name(d)}),
        el('span', {className: 'device-sub', textContent: sub})]);
      ul.appendChild(el('li', {}, [button]));
    });
    $('title-device').textContent = selected() ? name(selected()) : t('devices.noneShort');
  }

  function select(d) {
    DeviceState.select(d);
    var pressed = document.querySelector('#dev-list [aria-pressed="true"]');
    if (pressed)
      pressed.focus();
  }

  function fact(dl, label, value) {
    if (!value)
      return;
    dl.appendChild(el('dt', {textContent: label}));
    dl.appendChild(el('dd', {textContent: value}));
  }

  function renderDetail() {
    var d = selected();
    $('dev-detail').hidden = !d;
    if (!d)
      return;
    $('dev-name').textContent = name(d);
    var dl = $('dev-facts');
    dl.textContent = '';
    fact(dl, t('devices.firmware'), d.Version);
    fact(dl, t('devices.serial'), d.SN);
    fact(dl, t('devices.id'), d.DeviceID);
    fact(dl, t('devices.product'), d.productName);
    fact(dl, t('devices.description'), d.description);
    fact(dl, t('devices.hardwareId'), d.HardwareID);
    fact(dl, t('devices.folder'), d.device);
    $('dev-prop-form').hidden = !reachable(d);
    $('dev-prop-form').previousElementSibling.hidden = !reachable(d);
    UI.setStatus($('prop-status'), reachable(d) ? '' : t('devices.notReachable'));
    renderHotkey();
    checkPage();
  }

  // The settings page ships with the device's page package; the button works once it is there.
  function pageUrl(d) {
    return 'device/' + encodeURIComponent(d.device) + '/seting.html';
  }

  function checkPage() {
    var d = selected();
    var button = $('dev-open-page');
    var status = $('dev-page-status');
    if (!d.device) {
      button.disabled = true;
      status.textContent = t('devices.noPage');
      return;
    }
    button.disabled = true;
    status.textContent = '';
    var xhr = new XMLHttpRequest();
    xhr.onloadend = function () {
      if (selected() !== d)
        return;
      var there = xhr.status === 200 || (xhr.status === 0 && xhr.responseText.length > 0);
      button.disabled = !there;
      status.textContent = there ? '' : t('devices.noPage');
    };
    try {
      xhr.open('GET', pageUrl(d));
      xhr.send();
    } catch (e) {
      status.textContent = t('devices.noPage');
    }
  }

  function openPage() {
    var d = selected();
    if (!d || !d.device)
      return;
    Bridge.send('openView', {relativeUrl: '/view/device/' + d.device + '/seting.html',
      size: '1000,600'});
    UI.flash(t('devices.pageOpened'));
  }

  var hotkeysAsked = false;

  // One question at a time: the program answers in order, so a late answer is still current.
  function loadHotkeys() {
    if (hotkeysAsked)
      return;
    hotkeysAsked = true;
    var p = Bridge.request('getHotKey');
    p.then(function () { hotkeysAsked = false; }, function () { hotkeysAsked = false; });
    UI.track($('dev-hotkey-status'), p, t('devices.hotkeyAsking'), function (text) {
      var parsed = UI.parseJson(text);
      hotkeys = {};
      (Array.isArray(parsed) ? parsed : []).forEach(function (h) {
        hotkeys[h.deviceId] = h;
      });
      renderHotkey();
      return null;
    });
  }

  function renderHotkey() {
    var d = selected();
    var input = $('dev-hotkey');
    var form = $('dev-hotkey-form');
    var status = $('dev-hotkey-status');
    if (!d || !hotkeys) {
      input.value = '';
      return;
    }
    var h = hotkeys[d.DeviceID];
    form.hidden = !h;
    if (!h) {
      UI.setStatus(status, t('devices.hotkeyNone'));
      return;
    }
    input.value = h.hotkey || '';
    if (!h.hotkey)
      UI.setStatus(status, t('devices.hotkeyEmpty'));
    else if (h.isconflict === '1')
      UI.setStatus(status, t('devices.hotkeyAccepted', h.hotkey), 'ok');
    else
      UI.setStatus(status, t('devices.hotkeyRefused', h.hotkey), 'error');
  }

  function setHotkey(sequence) {
    var d = selected();
    if (!d || !d.DeviceID)
      return;
    var p = Bridge.request('setHotKey', {deviceId: d.DeviceID, hotkey: sequence});
    UI.track($('dev-hotkey-status'), p, t('devices.hotkeySetting'), function (text) {
      if (hotkeys && hotkeys[d.DeviceID]) {
        hotkeys[d.DeviceID].hotkey = sequence;
        hotkeys[d.DeviceID].isconflict = text;
      }
      if (!sequence)
        return t('devices.hotkeyEmpty');
      if (text === '1')
        return t('devices.hotkeyAccepted', sequence);
      UI.error($('dev-hotkey-status'), t('devices.hotkeyRefused', sequence));
      return null;
    });
  }

  function propArgs() {
    var id = parseInt($('prop-id').value, 10);
    var size = parseInt($('prop-size').value, 10);
    if (isNaN(id) || id < 0 || id > 65535) {
      UI.error($('prop-status'), t('devices.badPropId'));
      return null;
    }
    if (isNaN(size) || size < 1 || size > 2048) {
      UI.error($('prop-status'), t('memory.badSize'));
      return null;
    }
    var d = selected();
    return {HardwareID: d.HardwareID, DevicePath: d.DevicePath,
      PARAMID: String(id), PARAMSIZE: String(size)};
  }

  function readProp() {
    var args = propArgs();
    if (!args)
      return;
    UI.track($('prop-status'), Bridge.request('readDevicesProp', args), t('common.reading'),
      function (bytes) {
        $('prop-data').value = bytes;
        return t('devices.propRead', args.PARAMID);
      });
  }

  function writeProp() {
    var args = propArgs();
    if (!args)
      return;
    var bytes = parseBytes($('prop-data').value);
    if (bytes.error) {
      UI.error($('prop-status'), bytes.error);
      return;
    }
    if (bytes.list.length !== Number(args.PARAMSIZE)) {
      UI.error($('prop-status'), t('devices.countMismatch', bytes.list.length, args.PARAMSIZE));
      return;
    }
    args.PARAMDATA = bytes.list.map(hexByte).join(',');
    UI.track($('prop-status'), Bridge.request('writeDevicesProp', args), t('common.writing'),
      function () { return t('devices.propWritten', args.PARAMID); });
  }

  function hexByte(n) {
    return '0x' + (n < 16 ? '0' : '') + n.toString(16);
  }

  // "0x01, 2,ff" -> [1, 2, 255]; every item one byte in hexadecimal.
  function parseBytes(text) {
    var items = String(text).split(/[\s,]+/).filter(function (s) { return s.length; });
    var out = [];
    for (var i = 0; i < items.length; i++) {
      if (!/^(0x)?[0-9a-f]{1,2}$/i.test(items[i]))
        return {error: t('memory.badByte', items[i], i + 1)};
      out.push(parseInt(items[i].replace(/^0x/i, ''), 16));
    }
    if (!out.length)
      return {error: t('devices.noBytes')};
    return {list: out};
  }

  function init() {
    $('dev-refresh').addEventListener('click', reload);
    $('dev-open-page').addEventListener('click', openPage);
    $('prop-read').addEventListener('click', readProp);
    $('dev-prop-form').addEventListener('submit', function (e) {
      e.preventDefault();
      writeProp();
    });
    UI.keyCapture($('dev-hotkey'));
    $('dev-hotkey-form').addEventListener('submit', function (e) {
      e.preventDefault();
      setHotkey($('dev-hotkey').value);
    });
    $('dev-hotkey-clear').addEventListener('click', function () {
      $('dev-hotkey').value = '';
      setHotkey('');
    });
    // The event's number is not relied upon: what arrived or left is told from the new list.
    Bridge.on('devicesChanged', function () {
      var before = DeviceState.list().filter(reachable).map(function (d) {
        return {key: key(d), name: name(d)};
      });
      refresh().then(function () {
        var after = DeviceState.list().filter(reachable);
        var now = after.map(key);
        before.forEach(function (b) {
          if (now.indexOf(b.key) < 0)
            UI.flash(t('devices.left', b.name));
        });
        after.forEach(function (d) {
          if (!before.some(function (b) { return b.key === key(d); }))
            UI.flash(t('devices.arrived', name(d)));
        });
      });
      loadHotkeys();
    });
    DeviceState.watch(show);
    refresh(Boot.devices);
    loadHotkeys();
  }

  function reload() {
    refresh();
    loadHotkeys();
  }

  Screens.add({name: 'devices', init: init, relabel: reload});

  return {refresh: refresh, loadHotkeys: loadHotkeys};
})();
