// The macro recording screen: presses, releases and pauses as the program reports them while
// recording, editable, and handed to a key's command list.
var Macro = (function () {
  'use strict';
  var $ = UI.$, el = UI.el, t = I18n.t, L = I18n.later;

  var items = []; // {kind: 'press'|'release'|'pause', scan, ext, ms}
  var recording = false;
  var devicesMissing = ''; // the program's text, once it said the keyboards cannot be reached

  // One "macroItem" event: key items "0", press "1"/release "0", scan code, extended bit;
  // pause items "2", milliseconds, "0", "0".
  function fromEvent(args) {
    if (args[0] === '2' || args[0] === 2)
      return {kind: 'pause', ms: Math.max(0, parseInt(args[1], 10) || 0)};
    if (args[0] === '0' || args[0] === 0) {
      return {kind: String(args[1]) === '1' ? 'press' : 'release',
        scan: parseInt(args[2], 10) || 0, ext: String(args[3]) === '1' ? 1 : 0};
    }
    return null;
  }

  function keyName(item) {
    var k = Keys.byScan(item.scan, item.ext);
    return k ? k.name : t('keymap.unknownKey', '0x' + item.scan.toString(16) + (item.ext ? ' E0' : ''));
  }

  function render() {
    var list = $('mac-timeline');
    list.textContent = '';
    $('mac-empty').hidden = items.length > 0;
    var at = 0;
    items.forEach(function (item, i) {
      if (item.kind === 'pause')
        at += item.ms;
      var content;
      if (item.kind === 'pause') {
        var id = 'mac-pause-' + i;
        content = [el('label', {htmlFor: id, textContent: t('macro.pause')}),
          el('input', {id: id, type: 'number', min: '0', max: '600000', className: 'num',
            value: String(item.ms), on: {change: function (e) {
              item.ms = Math.max(0, parseInt(e.target.value, 10) || 0);
              render();
              var again = $(id);
              if (again)
                again.focus();
            }}}),
          el('span', {className: 'unit', textContent: t('unit.ms')})];
      } else {
        content = [el('span', {className: 'key-cap', textContent: keyName(item)}),
          el('span', {textContent: t(item.kind === 'press' ? 'macro.pressed' : 'macro.released')})];
      }
      list.appendChild(el('li', {className: 'item ' + item.kind}, [
        el('span', {className: 'at', textContent: (at / 1000).toFixed(3) + ' s'}),
        el('span', {className: 'what'}, content),
        el('button', {type: 'button', className: 'icon remove', textContent: '\u00d7',
          attrs: {'aria-label': t('macro.removeItem', i + 1)},
          on: {click: function () {
            items.splice(i, 1);
            render();
            var next = $('mac-timeline').children[Math.min(i, items.length - 1)];
            (next ? next.querySelector('button') : $('mac-start')).focus();
          }}})
      ]));
    });
    renderStrip();
    $('mac-use').disabled = !items.length || recording;
    list.scrollTop = list.scrollHeight;
  }

  // Keys as bars over time, so the rhythm of the macro can be seen at a glance.
  function renderStrip() {
    var strip = $('mac-strip');
    strip.textContent = '';
    var at = 0, total = 0, open = {}, bars = [];
    items.forEach(function (item) {
      if (item.kind === 'pause') {
        at += item.ms;
        return;
      }
      var id = item.scan + ':' + item.ext;
      if (item.kind === 'press')
        open[id] = {start: at, name: keyName(item)};
      else if (open[id]) {
        bars.push({start: open[id].start, end: at, name: open[id].name});
        delete open[id];
      }
    });
    Object.keys(open).forEach(function (id) {
      bars.push({start: open[id].start, end: at, name: open[id].name});
    });
    bars.sort(function (a, b) { return a.start - b.start; });
    total = Math.max(at, 1);
    strip.hidden = !bars.length;
    var lanes = [];
    bars.forEach(function (b) {
      var lane = 0;
      while (lanes[lane] != null && lanes[lane] > b.start)
        lane++;
      lanes[lane] = b.end;
      strip.appendChild(el('span', {className: 'bar', textContent: b.name, title: b.name,
        attrs: {style: 'left:' + (100 * b.start / total).toFixed(2) + '%;width:max(4px,' +
          (100 * (b.end - b.start) / total).toFixed(2) + '%);top:' + (4 + lane * 22) + 'px'}}));
    });
    strip.style.height = (8 + Math.max(1, lanes.length) * 22) + 'px';
  }

  function setRecording(on) {
    recording = on;
    $('mac-start').disabled = on;
    $('mac-stop').disabled = !on;
    $('screen-macro').classList.toggle('recording', on);
    $('mac-use').disabled = !items.length || on;
  }

  function start() {
    items = [];
    render();
    setRecording(true);
    UI.track($('mac-status'), Bridge.request('startRecord'), L('macro.starting'), function () {
      if (!devicesMissing)
        return L('macro.recording');
      showDevicesMissing();
      return null;
    }).catch(function () { setRecording(false); });
    $('mac-stop').focus();
  }

  // The program's words when the keyboards of the system cannot be reached; it says so when
  // recording starts, before or after the answer.
  function showDevicesMissing() {
    UI.error($('mac-status'), L('macro.noDevices', devicesMissing));
  }

  function stop() {
    setRecording(false);
    // Releases still to come after the last press end the list without a trailing pause.
    UI.track($('mac-status'), Bridge.request('stopRecord'), L('macro.stopping'), function () {
      return L('macro.stopped', items.length);
    });
    $('mac-start').focus();
  }

  // The recorded macro as a command list (pauses left out when the user chose so).
  function commands() {
    var keep = $('mac-pauses').checked;
    return KeyMapFile.commandsFromMacro(items.filter(function (item) {
      return keep || item.kind !== 'pause';
    }));
  }

  function init() {
    $('mac-start').addEventListener('click', start);
    $('mac-stop').addEventListener('click', stop);
    $('mac-clear').addEventListener('click', function () {
      items = [];
      render();
    });
    $('mac-use').addEventListener('click', function () {
      App.show('keymap');
      if (!KeyMap.current()) {
        UI.error($('km-status'), L('macro.noMap'));
        return;
      }
      KeyMap.openEditor(-1, {scanCode: null, flag: 0, playType: 0, playCount: 1,
        commands: commands()});
    });
    Bridge.on('inputDevicesMissing', function (args) {
      devicesMissing = args[0] || '';
      if (recording)
        showDevicesMissing();
    });
    Bridge.on('macroItem', function (args) {
      if (!recording)
        return;
      var item = fromEvent(args);
      if (!item)
        return;
      items.push(item);
      render();
    });
    render();
  }

  Screens.add({name: 'macro', init: init, relabel: render});

  return {
    commands: commands,
    items: function () { return items.slice(); },
    recording: function () { return recording; }
  };
})();
