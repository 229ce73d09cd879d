// The key map file: a "conf" element whose children are entries (scanCode, flag, playType,
// playCount), each holding its command list as children (task, value). Element names are not
// read by the program; this page writes "key" for keys and "button" for mouse buttons.
var KeyMapFile = (function () {
  'use strict';

  var TASKS = ['down', 'up', 'delayTime', 'mouseDown', 'mouseUp', 'openUrl', 'reportMsg'];
  var PLAY_ONCE = 0, PLAY_TOGGLE = 1, PLAY_HOLD = 2;

  // The program reads a missing or non-numeric number as 0.
  function number(el, name) {
    var n = parseInt(el.getAttribute(name) || '', 10);
    return isNaN(n) ? 0 : n;
  }

  // Entries of a "conf" text in file order; an entry for the same trigger as an earlier one
  // replaces it, as the program does. Throws Error('malformed') or Error('noconf').
  function parse(text) {
    var doc = new DOMParser().parseFromString(text, 'application/xml');
    if (doc.getElementsByTagName('parsererror').length)
      throw new Error('malformed');
    var root = doc.documentElement;
    if (!root || root.nodeName !== 'conf')
      throw new Error('noconf');
    var entries = [];
    Array.prototype.forEach.call(root.children, function (el) {
      var entry = {
        scanCode: number(el, 'scanCode') & 0xffff,
        flag: number(el, 'flag') & 0xffff,
        playType: number(el, 'playType'),
        playCount: number(el, 'playCount'),
        commands: Array.prototype.map.call(el.children, function (c) {
          return {task: c.getAttribute('task') || '', value: c.getAttribute('value') || ''};
        })
      };
      var at = indexOf(entries, entry.scanCode, entry.flag);
      if (at >= 0)
        entries.splice(at, 1);
      entries.push(entry);
    });
    return entries;
  }

  function indexOf(entries, scanCode, flag) {
    for (var i = 0; i < entries.length; i++) {
      if (entries[i].scanCode === scanCode && entries[i].flag === flag)
        return i;
    }
    return -1;
  }

  function escapeAttr(s) {
    return String(s).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
      .replace(/"/g, '&quot;').replace(/\n/g, '&#10;').replace(/\r/g, '&#13;')
      .replace(/\t/g, '&#9;');
  }

  // The children of "conf" as one XML fragment, for replacing them in place.
  function serialize(entries) {
    return entries.map(function (e) {
      var tag = e.flag === Keys.MOUSE_FLAG ? 'button' : 'key';
      var head = '<' + tag + ' scanCode="' + (e.scanCode | 0) + '" flag="' + (e.flag | 0) +
        '" playType="' + (e.playType | 0) + '" playCount="' + (e.playCount | 0) + '">';
      var body = e.commands.map(function (c) {
        return '<command task="' + escapeAttr(c.task) + '" value="' + escapeAttr(c.value) + '"/>';
      }).join('');
      return head + body + '</' + tag + '>';
    }).join('');
  }

  // The command list that plays a recorded macro: presses, releases and the pauses between.
  // Keys the table does not know are left out, with the pause before them kept.
  function commandsFromMacro(items) {
    var out = [];
    items.forEach(function (item) {
      if (item.kind === 'pause') {
        if (item.ms > 0)
          out.push({task: 'delayTime', value: String(item.ms)});
        return;
      }
      var key = Keys.byScan(item.scan, item.ext);
      if (!key)
        return;
      if (item.kind === 'press')
        out.push({task: 'down', value: hex2(key.usage)});
      else
        out.push({task: 'up', value: ''});
    });
    return out;
  }

  function hex2(n) {
    return (n < 16 ? '0' : '') + n.toString(16);
  }

  // The number a command value holds, read the way the player reads it (0 when it does not
  // parse).
  function hexValue(value) {
    var n = parseInt(String(value).replace(/^\s*0x/i, ''), 16);
    return isNaN(n) ? 0 : n;
  }

  return {
    TASKS: TASKS,
    PLAY_ONCE: PLAY_ONCE,
    PLAY_TOGGLE: PLAY_TOGGLE,
    PLAY_HOLD: PLAY_HOLD,
    parse: parse,
    serialize: serialize,
    indexOf: indexOf,
    commandsFromMacro: commandsFromMacro,
    hex2: hex2,
    hexValue: hexValue
  };
})();
