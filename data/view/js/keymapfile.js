// The key map file: a "conf" element whose children are entries (scanCode, flag, playType,
// playCount), each holding its command list as children (task, value). Element names are not
// read by the program; this page writes "key" for keys and "button" for mouse buttons.
// An entry with "remapTo" acts as another key ("e0"), a mouse button ("mouse:1") or is switched
// off ("none"), and has no commands. An "app" element with a "name" holds the entries that win
// while that application is in front; its flag 65535 matches no stroke, so a program that reads
// every child as an entry maps nothing with it.
var KeyMapFile = (function () {
  'use strict';

  var TASKS = ['keyDown', 'keyUp', 'down', 'up', 'typeText', 'delayTime', 'mouseDown', 'mouseUp',
    'openUrl', 'reportMsg'];
  var PLAY_ONCE = 0, PLAY_TOGGLE = 1, PLAY_HOLD = 2;
  var SECTION_FLAG = 65535;

  // The program reads a missing or non-numeric number as 0.
  function number(el, name) {
    var n = parseInt(el.getAttribute(name) || '', 10);
    return isNaN(n) ? 0 : n;
  }

  function isSection(el) {
    return el.nodeName === 'app' && el.hasAttribute('name');
  }

  // Adds the entry elements among `elements` to `entries`; an entry for the same trigger as an
  // earlier one replaces it, as the program does.
  function addEntries(elements, entries) {
    Array.prototype.forEach.call(elements, function (el) {
      if (isSection(el))
        return;
      var entry = {
        scanCode: number(el, 'scanCode') & 0xffff,
        flag: number(el, 'flag') & 0xffff,
        playType: number(el, 'playType'),
        playCount: number(el, 'playCount'),
        commands: Array.prototype.map.call(el.children, function (c) {
          return {task: c.getAttribute('task') || '', value: c.getAttribute('value') || ''};
        })
      };
      if (el.hasAttribute('remapTo'))
        entry.remapTo = el.getAttribute('remapTo');
      var at = indexOf(entries, entry.scanCode, entry.flag);
      if (at >= 0)
        entries.splice(at, 1);
      entries.push(entry);
    });
    return entries;
  }

  // The entries and the application sections ({name, entries}, one per name as the program
  // merges them) of a "conf" text. Throws Error('malformed') or Error('noconf').
  function parseFile(text) {
    var doc = new DOMParser().parseFromString(text, 'application/xml');
    if (doc.getElementsByTagName('parsererror').length)
      throw new Error('malformed');
    var root = doc.documentElement;
    if (!root || root.nodeName !== 'conf')
      throw new Error('noconf');
    var apps = [];
    Array.prototype.forEach.call(root.children, function (el) {
      if (!isSection(el))
        return;
      var name = appName(el.getAttribute('name'));
      if (!name)
        return;
      var app = apps.filter(function (a) { return a.name === name; })[0];
      if (!app)
        apps.push(app = {name: name, entries: []});
      addEntries(el.children, app.entries);
    });
    return {entries: addEntries(root.children, []), apps: apps};
  }

  // The entries of a "conf" text in file order, without the application sections.
  function parse(text) {
    return parseFile(text).entries;
  }

  // An application as key maps name it: the program file's name without folder and
  // extension, in lower case ("C:\Windows\Notepad.exe" is "notepad"), as the program compares.
  function appName(text) {
    var name = String(text || '').trim().replace(/^.*[\\\/]/, '');
    var dot = name.lastIndexOf('.');
    if (dot > 0)
      name = name.slice(0, dot);
    return name.toLowerCase();
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

  function serializeEntries(entries) {
    return entries.map(function (e) {
      var tag = e.flag === Keys.MOUSE_FLAG ? 'button' : 'key';
      var head = '<' + tag + ' scanCode="' + (e.scanCode | 0) + '" flag="' + (e.flag | 0) +
        '" playType="' + (e.playType | 0) + '" playCount="' + (e.playCount | 0) + '"';
      // A key acting as another has no commands: a program that does not know remapTo skips it.
      if (e.remapTo != null)
        return head + ' remapTo="' + escapeAttr(e.remapTo) + '"/>';
      var body = e.commands.map(function (c) {
        return '<command task="' + escapeAttr(c.task) + '" value="' + escapeAttr(c.value) + '"/>';
      }).join('');
      return head + '>' + body + '</' + tag + '>';
    }).join('');
  }

  // The children of "conf" as one XML fragment, for replacing them in place: the entries, then
  // one section per application.
  function serialize(entries, apps) {
    return serializeEntries(entries) + (apps || []).map(function (a) {
      return '<app name="' + escapeAttr(a.name) + '" flag="' + SECTION_FLAG + '">' +
        serializeEntries(a.entries) + '</app>';
    }).join('');
  }

  // The command list that plays a recorded macro: presses and releases of each key, held
  // together as they were (a recorded Shift+H plays a capital H), and the pauses between.
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
      out.push({task: item.kind === 'press' ? 'keyDown' : 'keyUp', value: hex2(key.usage)});
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
    parseFile: parseFile,
    appName: appName,
    serialize: serialize,
    indexOf: indexOf,
    commandsFromMacro: commandsFromMacro,
    hex2: hex2,
    hexValue: hexValue
  };
})();
