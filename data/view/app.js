// The first page: lists the devices, shows the settings, reads and writes device memory.
// Every native call is a JSON request through cefQuery; native events come through
// setMessageCallback.
(function () {
  'use strict';

  var selected = null; // {HardwareID, DevicePath, ...} of the chosen device

  function $(id) { return document.getElementById(id); }

  // One request; resolves with the success text, rejects with {code, message}. A request the
  // native side does not answer stays pending.
  function request(funcname, args) {
    var body = Object.assign({funcname: funcname}, args || {});
    return new Promise(function (resolve, reject) {
      window.cefQuery({
        request: JSON.stringify(body),
        onSuccess: resolve,
        onFailure: function (code, message) { reject({code: code, message: message}); }
      });
    });
  }

  // Window commands are never answered.
  function windowCommand(funcname) {
    window.cefQuery({request: JSON.stringify({funcname: funcname})});
  }

  function status(id, text, isError) {
    var el = $(id);
    el.textContent = text;
    el.className = 'status' + (isError ? ' error' : '');
  }

  function cell(row, text) {
    var td = document.createElement('td');
    td.textContent = text == null ? '' : String(text);
    row.appendChild(td);
    return td;
  }

  function logEvent(text) {
    var li = document.createElement('li');
    li.textContent = new Date().toLocaleTimeString() + '  ' + text;
    var list = $('events');
    list.insertBefore(li, list.firstChild);
    while (list.children.length > 50)
      list.removeChild(list.lastChild);
  }

  function showDevices(devices) {
    var body = $('devices').tBodies[0];
    body.textContent = '';
    devices.forEach(function (d) {
      var row = document.createElement('tr');
      var radio = document.createElement('input');
      radio.type = 'radio';
      radio.name = 'device';
      radio.addEventListener('change', function () { select(d, row); });
      cell(row, '').appendChild(radio);
      cell(row, d.deviceId || d.DeviceID || d.HardwareID);
      cell(row, d.productCN || d.productName || d.device || '');
      cell(row, d.Version || d.version || '');
      cell(row, d.SN || d.sn || '');
      body.appendChild(row);
      if (selected && selected.DevicePath === d.DevicePath) {
        radio.checked = true;
        select(d, row);
      }
    });
    if (!devices.some(function (d) { return selected && d.DevicePath === selected.DevicePath; }))
      selected = null;
    status('devices-status', devices.length ? devices.length + ' device(s)' : 'no device connected');
  }

  function select(device, row) {
    selected = device;
    Array.prototype.forEach.call($('devices').tBodies[0].rows, function (r) {
      r.classList.toggle('selected', r === row);
    });
  }

  function refreshDevices() {
    status('devices-status', 'asking...');
    request('getDevicesList').then(function (text) {
      var list;
      try { list = JSON.parse(text); } catch (e) { list = null; }
      if (!Array.isArray(list)) {
        status('devices-status', 'unexpected answer: ' + text, true);
        return;
      }
      showDevices(list);
    }, function (e) {
      status('devices-status', e.message, true);
    });
  }

  function showConf() {
    request('getConf').then(function (text) {
      var conf = (JSON.parse(text) || [])[0] || {};
      var body = $('conf').tBodies[0];
      body.textContent = '';
      Object.keys(conf).sort().forEach(function (key) {
        var row = document.createElement('tr');
        cell(row, key);
        cell(row, conf[key]);
        body.appendChild(row);
      });
      status('conf-status', '');
    }, function (e) {
      status('conf-status', e.message, true);
    });
  }

  function memoryArgs() {
    if (!selected) {
      status('memory-status', 'choose a device first', true);
      return null;
    }
    return {
      HardwareID: selected.HardwareID,
      DevicePath: selected.DevicePath,
      PARAMADDRESS: $('mem-address').value.trim(),
      PARAMSIZE: $('mem-size').value.trim()
    };
  }

  function readMemory() {
    var args = memoryArgs();
    if (!args)
      return;
    status('memory-status', 'reading...');
    request('readByAddr', args).then(function (bytes) {
      $('mem-data').value = bytes;
      status('memory-status', 'read ' + args.PARAMSIZE + ' byte(s) at ' + args.PARAMADDRESS);
    }, function (e) { status('memory-status', e.message, true); });
  }

  function writeMemory() {
    var args = memoryArgs();
    if (!args)
      return;
    args.PARAMDATA = $('mem-data').value.trim();
    status('memory-status', 'writing...');
    request('writeByAddr', args).then(function (text) {
      status('memory-status', text);
    }, function (e) { status('memory-status', e.message, true); });
  }

  window.setMessageCallback('devicesChanged', function (args) {
    logEvent('devicesChanged ' + args.join(','));
    refreshDevices();
    return true;
  });
  window.setMessageCallback('onDeviceData', function (args) {
    logEvent('onDeviceData ' + args.join(','));
    return true;
  });
  window.setMessageCallback('navStateChanged', function (args) {
    $('nav-state').textContent = (args[0] ? '\u2190' : '') + (args[1] ? '\u2192' : '');
    return true;
  });
  window.setMessageCallback('onBrowserMsg', function (args) {
    logEvent('message ' + args.join(','));
    return true;
  });

  // The virtual device mode and recording: each button is one request; recorded keys arrive as
  // "macroItem" events (key: "0", press "1"/release "0", scan code, extended; pause: "2", ms).
  function inputCommand(funcname) {
    request(funcname).then(function (text) {
      status('vdevice-status', text);
    }, function (e) { status('vdevice-status', e.message, true); });
  }
  function macroItemText(args) {
    if (args[0] === '2')
      return 'pause ' + args[1] + ' ms';
    return (args[1] === '1' ? 'press ' : 'release ') + 'scan ' + args[2] +
        (args[3] === '1' ? ' (E0)' : '');
  }
  window.setMessageCallback('macroItem', function (args) {
    var li = document.createElement('li');
    li.textContent = macroItemText(args);
    $('macro').appendChild(li);
    return true;
  });
  $('btn-vdevice-on').addEventListener('click', function () { inputCommand('startVDevice'); });
  $('btn-vdevice-off').addEventListener('click', function () { inputCommand('stopVDevice'); });
  $('btn-keymaps').addEventListener('click', function () { inputCommand('keyMapChanged'); });
  $('btn-record').addEventListener('click', function () {
    $('macro').textContent = '';
    inputCommand('startRecord');
  });
  $('btn-record-stop').addEventListener('click', function () { inputCommand('stopRecord'); });

  $('btn-refresh').addEventListener('click', refreshDevices);
  $('btn-read').addEventListener('click', readMemory);
  $('btn-write').addEventListener('click', writeMemory);
  $('btn-min').addEventListener('click', function () { windowCommand('minisizeWindow'); });
  $('btn-max').addEventListener('click', function () {
    var maximised = document.body.classList.toggle('maximised');
    windowCommand(maximised ? 'maxsizeWindow' : 'restoreWindow');
  });
  $('btn-close').addEventListener('click', function () { request('closeApp'); });

  refreshDevices();
  showConf();
  document.documentElement.dataset.ready = '1';
  document.title = 'tavix';
})();
