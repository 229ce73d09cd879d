// The devices screen: the connected devices (DeviceState), live on hot-plug, with their
// properties, their settings page and their hotkey.
var Devices = (function () {
  'use strict';
  var $ = UI.$, el = UI.el, t = I18n.t, L = I18n.later;
  var name = DeviceState.name, reachable = DeviceState.reachable, key = DeviceState.key;
  var selected = DeviceState.selected;

  var hotkeys = null; // deviceId -> {hotkey, isconflict}, once getHotKey answered

  // `asked`: a getDevicesList request already under way (the one sent while the page starts).
  function refresh(asked) {
    return UI.track($('dev-status'), asked || Bridge.request('getDevicesList'), L('devices.asking'),
      function (text) {
        if (!DeviceState.take(text)) {
          UI.setStatus($('dev-status'), L('devices.badAnswer'), 'error', text);
          return null;
        }
        var count = DeviceState.list().length;
        return count ? L('devices.count', count) : L('devices.none');
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
    $('dev-unreachable').hidden = reachable(d);
    checkPage();
  }

  // The settings page ships with the device's page package; the button works once it is there.
  function pageUrl(d) {
    return 'view/device/' + d.device + '/seting.html';
  }

  var pageThere = null; // whether the chosen device's settings page is installed, once known

  function checkPage() {
    var d = selected();
    var button = $('dev-open-page');
    button.disabled = true;
    pageThere = null;
    var done = function (there) {
      if (selected() !== d)
        return;
      pageThere = there;
      button.disabled = !there;
      $('dev-page-status').textContent = there ? '' : t('devices.noPage');
      renderHotkey();
    };
    $('dev-page-status').textContent = '';
    if (!d.device)
      done(false);
    else
      UI.fileExists(pageUrl(d)).then(done);
  }

  function openPage() {
    var d = selected();
    if (!d || !d.device)
      return;
    Bridge.send('openView', {relativeUrl: '/view/device/' + d.device + '/seting.html',
      size: '1000,600'});
    UI.flash(L('devices.pageOpened'));
  }

  var hotkeysAsked = false;

  // One question at a time: the program answers in order, so a late answer is still current.
  function loadHotkeys() {
    if (hotkeysAsked)
      return;
    hotkeysAsked = true;
    var p = Bridge.request('getHotKey');
    p.then(function (text) {
      hotkeysAsked = false;
      var parsed = UI.parseJson(text);
      hotkeys = {};
      (Array.isArray(parsed) ? parsed : []).forEach(function (h) {
        hotkeys[h.deviceId] = h;
      });
      renderHotkey();
    }, function (e) {
      hotkeysAsked = false;
      UI.fail($('dev-status'), e);
    });
  }

  // The note beside the hotkey: what the system made of it and whether the page it opens is
  // there (a hotkey whose page is missing would open an empty window).
  function renderHotkey() {
    var d = selected();
    var input = $('dev-hotkey');
    var note = $('dev-hotkey-note');
    if (!d || !hotkeys) {
      input.value = '';
      note.textContent = '';
      return;
    }
    var h = hotkeys[d.DeviceID];
    $('dev-hotkey-field').hidden = !h;
    $('dev-hotkey-clear').hidden = !h;
    var text = '', kind = '';
    if (!h) {
      text = t('devices.hotkeyNone');
    } else {
      input.value = h.hotkey || '';
      if (!h.hotkey) {
        text = t('devices.hotkeyEmpty');
      } else if (h.isconflict !== '1') {
        text = t('devices.hotkeyRefused', h.hotkey);
        kind = 'error';
      } else if (pageThere === false) {
        text = t('devices.hotkeyNoPage', h.hotkey);
        kind = 'warn';
      } else {
        text = t('devices.hotkeyAccepted', h.hotkey);
        kind = 'ok';
      }
    }
    note.textContent = text;
    note.className = 'note' + (kind ? ' ' + kind : '');
  }

  // Given to the system as soon as the keys are pressed, as the program's own hotkeys are.
  function setHotkey(sequence) {
    var d = selected();
    if (!d || !d.DeviceID)
      return;
    if (UI.reservedBySystem(sequence)) {
      UI.error($('dev-status'), L('common.reservedKeys', sequence));
      renderHotkey();
      return;
    }
    var p = Bridge.request('setHotKey', {deviceId: d.DeviceID, hotkey: sequence});
    UI.track($('dev-status'), p, L('devices.hotkeySetting'), function (text) {
      if (hotkeys && hotkeys[d.DeviceID]) {
        hotkeys[d.DeviceID].hotkey = sequence;
        hotkeys[d.DeviceID].isconflict = text;
      }
      renderHotkey();
      if (!sequence)
        return L('devices.hotkeyCleared');
      if (text === '1')
        return L('devices.hotkeySet', sequence);
      UI.error($('dev-status'), L('devices.hotkeyRefused', sequence));
      return null;
    }).catch(renderHotkey);
  }

  function propArgs() {
    var id = parseInt($('prop-id').value, 10);
    var size = parseInt($('prop-size').value, 10);
    if (isNaN(id) || id < 0 || id > 65535) {
      UI.error($('dev-status'), L('devices.badPropId'));
      return null;
    }
    if (isNaN(size) || size < 1 || size > 2048) {
      UI.error($('dev-status'), L('memory.badSize'));
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
    UI.track($('dev-status'), Bridge.request('readDevicesProp', args), L('common.reading'),
      function (bytes) {
        $('prop-data').value = bytes;
        return L('devices.propRead', args.PARAMID);
      });
  }

  function writeProp() {
    var args = propArgs();
    if (!args)
      return;
    var bytes = parseBytes($('prop-data').value);
    if (bytes.error) {
      UI.error($('dev-status'), bytes.error);
      return;
    }
    if (bytes.list.length !== Number(args.PARAMSIZE)) {
      UI.error($('dev-status'), L('devices.countMismatch', bytes.list.length, args.PARAMSIZE));
      return;
    }
    args.PARAMDATA = bytes.list.map(hexByte).join(',');
    UI.track($('dev-status'), Bridge.request('writeDevicesProp', args), L('common.writing'),
      L('devices.propWritten', args.PARAMID));
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
        return {error: L('memory.badByte', items[i], i + 1)};
      out.push(parseInt(items[i].replace(/^0x/i, ''), 16));
    }
    if (!out.length)
      return {error: L('devices.noBytes')};
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
    UI.keyCapture($('dev-hotkey'), setHotkey);
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
            tell(L('devices.left', b.name));
        });
        after.forEach(function (d) {
          if (!before.some(function (b) { return b.key === key(d); }))
            tell(L('devices.arrived', name(d)));
        });
      });
      loadHotkeys();
    });
    DeviceState.watch(show);
    refresh(Boot.devices);
    loadHotkeys();
  }

  // Said in the status bar and kept in the event log.
  function tell(text) {
    UI.flash(text);
    Bridge.note('notice', text);
  }

  function reload() {
    refresh();
    loadHotkeys();
  }

  Screens.add({name: 'devices', init: init, relabel: show});

  return {refresh: refresh, loadHotkeys: loadHotkeys};
})();
