// Keys and mouse buttons as the key map files name them.
// A key map entry is triggered by a PC scan code (set 1) with its E0 flag; a "down" command
// sends a HID keyboard usage code. The table ties both to the key the browser reports
// (KeyboardEvent.code) and to a printable name.
var Keys = (function () {
  'use strict';

  // [browser code, name, scan code, E0 flag, HID usage]
  var TABLE = [
    ['Escape', 'Esc', 0x01, 0, 0x29],
    ['F1', 'F1', 0x3b, 0, 0x3a], ['F2', 'F2', 0x3c, 0, 0x3b], ['F3', 'F3', 0x3d, 0, 0x3c],
    ['F4', 'F4', 0x3e, 0, 0x3d], ['F5', 'F5', 0x3f, 0, 0x3e], ['F6', 'F6', 0x40, 0, 0x3f],
    ['F7', 'F7', 0x41, 0, 0x40], ['F8', 'F8', 0x42, 0, 0x41], ['F9', 'F9', 0x43, 0, 0x42],
    ['F10', 'F10', 0x44, 0, 0x43], ['F11', 'F11', 0x57, 0, 0x44], ['F12', 'F12', 0x58, 0, 0x45],
    ['Backquote', '`', 0x29, 0, 0x35],
    ['Digit1', '1', 0x02, 0, 0x1e], ['Digit2', '2', 0x03, 0, 0x1f], ['Digit3', '3', 0x04, 0, 0x20],
    ['Digit4', '4', 0x05, 0, 0x21], ['Digit5', '5', 0x06, 0, 0x22], ['Digit6', '6', 0x07, 0, 0x23],
    ['Digit7', '7', 0x08, 0, 0x24], ['Digit8', '8', 0x09, 0, 0x25], ['Digit9', '9', 0x0a, 0, 0x26],
    ['Digit0', '0', 0x0b, 0, 0x27], ['Minus', '-', 0x0c, 0, 0x2d], ['Equal', '=', 0x0d, 0, 0x2e],
    ['Backspace', 'Backspace', 0x0e, 0, 0x2a], ['Tab', 'Tab', 0x0f, 0, 0x2b],
    ['KeyQ', 'Q', 0x10, 0, 0x14], ['KeyW', 'W', 0x11, 0, 0x1a], ['KeyE', 'E', 0x12, 0, 0x08],
    ['KeyR', 'R', 0x13, 0, 0x15], ['KeyT', 'T', 0x14, 0, 0x17], ['KeyY', 'Y', 0x15, 0, 0x1c],
    ['KeyU', 'U', 0x16, 0, 0x18], ['KeyI', 'I', 0x17, 0, 0x0c], ['KeyO', 'O', 0x18, 0, 0x12],
    ['KeyP', 'P', 0x19, 0, 0x13], ['BracketLeft', '[', 0x1a, 0, 0x2f],
    ['BracketRight', ']', 0x1b, 0, 0x30], ['Backslash', '\\', 0x2b, 0, 0x31],
    ['CapsLock', 'Caps Lock', 0x3a, 0, 0x39],
    ['KeyA', 'A', 0x1e, 0, 0x04], ['KeyS', 'S', 0x1f, 0, 0x16], ['KeyD', 'D', 0x20, 0, 0x07],
    ['KeyF', 'F', 0x21, 0, 0x09], ['KeyG', 'G', 0x22, 0, 0x0a], ['KeyH', 'H', 0x23, 0, 0x0b],
    ['KeyJ', 'J', 0x24, 0, 0x0d], ['KeyK', 'K', 0x25, 0, 0x0e], ['KeyL', 'L', 0x26, 0, 0x0f],
    ['Semicolon', ';', 0x27, 0, 0x33], ['Quote', '\'', 0x28, 0, 0x34],
    ['Enter', 'Enter', 0x1c, 0, 0x28],
    ['ShiftLeft', 'Left Shift', 0x2a, 0, 0xe1],
    ['KeyZ', 'Z', 0x2c, 0, 0x1d], ['KeyX', 'X', 0x2d, 0, 0x1b], ['KeyC', 'C', 0x2e, 0, 0x06],
    ['KeyV', 'V', 0x2f, 0, 0x19], ['KeyB', 'B', 0x30, 0, 0x05], ['KeyN', 'N', 0x31, 0, 0x11],
    ['KeyM', 'M', 0x32, 0, 0x10], ['Comma', ',', 0x33, 0, 0x36], ['Period', '.', 0x34, 0, 0x37],
    ['Slash', '/', 0x35, 0, 0x38], ['ShiftRight', 'Right Shift', 0x36, 0, 0xe5],
    ['ControlLeft', 'Left Ctrl', 0x1d, 0, 0xe0], ['MetaLeft', 'Left Win', 0x5b, 1, 0xe3],
    ['AltLeft', 'Left Alt', 0x38, 0, 0xe2], ['Space', 'Space', 0x39, 0, 0x2c],
    ['AltRight', 'Right Alt', 0x38, 1, 0xe6], ['MetaRight', 'Right Win', 0x5c, 1, 0xe7],
    ['ContextMenu', 'Menu', 0x5d, 1, 0x65], ['ControlRight', 'Right Ctrl', 0x1d, 1, 0xe4],
    ['PrintScreen', 'Print Screen', 0x37, 1, 0x46], ['ScrollLock', 'Scroll Lock', 0x46, 0, 0x47],
    ['Insert', 'Insert', 0x52, 1, 0x49], ['Home', 'Home', 0x47, 1, 0x4a],
    ['PageUp', 'Page Up', 0x49, 1, 0x4b], ['Delete', 'Delete', 0x53, 1, 0x4c],
    ['End', 'End', 0x4f, 1, 0x4d], ['PageDown', 'Page Down', 0x51, 1, 0x4e],
    ['ArrowUp', 'Up', 0x48, 1, 0x52], ['ArrowLeft', 'Left', 0x4b, 1, 0x50],
    ['ArrowDown', 'Down', 0x50, 1, 0x51], ['ArrowRight', 'Right', 0x4d, 1, 0x4f],
    ['NumLock', 'Num Lock', 0x45, 0, 0x53], ['NumpadDivide', 'Num /', 0x35, 1, 0x54],
    ['NumpadMultiply', 'Num *', 0x37, 0, 0x55], ['NumpadSubtract', 'Num -', 0x4a, 0, 0x56],
    ['Numpad7', 'Num 7', 0x47, 0, 0x5f], ['Numpad8', 'Num 8', 0x48, 0, 0x60],
    ['Numpad9', 'Num 9', 0x49, 0, 0x61], ['NumpadAdd', 'Num +', 0x4e, 0, 0x57],
    ['Numpad4', 'Num 4', 0x4b, 0, 0x5c], ['Numpad5', 'Num 5', 0x4c, 0, 0x5d],
    ['Numpad6', 'Num 6', 0x4d, 0, 0x5e], ['Numpad1', 'Num 1', 0x4f, 0, 0x59],
    ['Numpad2', 'Num 2', 0x50, 0, 0x5a], ['Numpad3', 'Num 3', 0x51, 0, 0x5b],
    ['NumpadEnter', 'Num Enter', 0x1c, 1, 0x58], ['Numpad0', 'Num 0', 0x52, 0, 0x62],
    ['NumpadDecimal', 'Num .', 0x53, 0, 0x63], ['IntlBackslash', '\\ (ISO)', 0x56, 0, 0x64]
  ];

  var keys = TABLE.map(function (r) {
    return {code: r[0], name: r[1], scan: r[2], ext: r[3], usage: r[4]};
  });

  // Mouse entries: the button-down value is the trigger ("flag" 10); "mouseDown" takes a mask.
  var MOUSE_FLAG = 10;
  var buttons = [
    {id: 'left', down: 0, mask: 0x01},
    {id: 'right', down: 0x0004, mask: 0x02},
    {id: 'middle', down: 0x0010, mask: 0x04},
    {id: 'button4', down: 0x0040, mask: 0x08},
    {id: 'button5', down: 0x0100, mask: 0x10}
  ];
  // The left button is never captured, so it can be played but not mapped.
  var mappableButtons = buttons.filter(function (b) { return b.down !== 0; });

  // The first entry of `list` whose `field` is `value`, or null.
  function find(list, field, value) {
    return list.filter(function (x) { return x[field] === value; })[0] || null;
  }

  function byScan(scan, ext) {
    var bit = ext ? 1 : 0;
    var key = keys.filter(function (k) { return k.scan === scan && k.ext === bit; })[0];
    if (key)
      return key;
    // The system's hook marks Num Lock as extended, the capture driver does not.
    if (scan === 0x45 && ext)
      return byScan(0x45, 0);
    return null;
  }

  function byUsage(usage) { return find(keys, 'usage', usage); }
  function byCode(code) { return find(keys, 'code', code); }
  function buttonByDown(down) { return find(mappableButtons, 'down', down); }
  function buttonByMask(mask) { return find(buttons, 'mask', mask); }

  // Qt's portable key names for the keys that do not name themselves.
  var QT_NAMES = {
    Escape: 'Esc', Enter: 'Return', NumpadEnter: 'Enter', Backspace: 'Backspace', Tab: 'Tab',
    Space: 'Space', Insert: 'Ins', Delete: 'Del', Home: 'Home', End: 'End', PageUp: 'PgUp',
    PageDown: 'PgDown', ArrowUp: 'Up', ArrowDown: 'Down', ArrowLeft: 'Left', ArrowRight: 'Right',
    PrintScreen: 'Print', ScrollLock: 'ScrollLock', Pause: 'Pause', CapsLock: 'CapsLock',
    NumLock: 'NumLock', ContextMenu: 'Menu', Backquote: '`', Minus: '-', Equal: '=',
    BracketLeft: '[', BracketRight: ']', Backslash: '\\', Semicolon: ';', Quote: '\'',
    Comma: ',', Period: '.', Slash: '/', NumpadDivide: '/', NumpadMultiply: '*',
    NumpadSubtract: '-', NumpadAdd: '+', NumpadDecimal: '.'
  };
  var MODIFIER_CODES = ['ShiftLeft', 'ShiftRight', 'ControlLeft', 'ControlRight', 'AltLeft',
    'AltRight', 'MetaLeft', 'MetaRight', 'OSLeft', 'OSRight'];

  // The key sequence text (Qt's portable form, e.g. "Ctrl+Alt+F9") of a key press; "" while only
  // modifiers are held, null for a key that has no portable name.
  function sequenceOf(e) {
    if (MODIFIER_CODES.indexOf(e.code) >= 0)
      return '';
    var name = null;
    var m;
    if ((m = /^Key([A-Z])$/.exec(e.code)))
      name = m[1];
    else if ((m = /^Digit([0-9])$/.exec(e.code)) || (m = /^Numpad([0-9])$/.exec(e.code)))
      name = m[1];
    else if (/^F([1-9]|1[0-9]|2[0-4])$/.test(e.code))
      name = e.code;
    else if (QT_NAMES[e.code])
      name = QT_NAMES[e.code];
    if (!name)
      return null;
    var parts = [];
    if (e.ctrlKey) parts.push('Ctrl');
    if (e.altKey) parts.push('Alt');
    if (e.shiftKey) parts.push('Shift');
    if (e.metaKey) parts.push('Meta');
    parts.push(name);
    return parts.join('+');
  }

  return {
    all: keys,
    buttons: buttons,
    mappableButtons: mappableButtons,
    MOUSE_FLAG: MOUSE_FLAG,
    byScan: byScan,
    byUsage: byUsage,
    byCode: byCode,
    buttonByDown: buttonByDown,
    buttonByMask: buttonByMask,
    sequenceOf: sequenceOf
  };
})();
