// The key mapping screen: the key maps (the default one and one per device that has its own
// file), their application sections, their entries, the mapping editor, and the switch of the
// key mapping mode.
var KeyMap = (function () {
  'use strict';
  var $ = UI.$, el = UI.el, t = I18n.t, L = I18n.later;

  var DEFAULT_FOLDER = 'virtual';
  // A missing key map file is never answered; after this long the page stops waiting.
  var MISSING_AFTER_MS = 4000;

  var current = null; // {map, entries, apps: [{name, entries}]}
  var section = ''; // the application whose entries are shown; '' the file's own
  var editing = null; // {index, entry}
  var vdOn = sessionStorage.getItem('tavix.vdevice') === '1';
  var vdBusy = false;
  var devicesMissing = ''; // the program's text, once it said the devices cannot be reached

  function mapFor(folder, label) {
    var base = 'view/device/' + folder + '/xml/';
    return {id: folder, label: label, path: base + 'configuration.xml', factory: base + 'factory.xml'};
  }

  function maps() {
    var out = [mapFor(DEFAULT_FOLDER, t('keymap.default'))];
    DeviceState.list().forEach(function (d) {
      if (!d.device || d.device === DEFAULT_FOLDER || /[\/\\]|\.\./.test(d.device))
        return;
      if (out.some(function (m) { return m.id === d.device; }))
        return;
      out.push(mapFor(d.device, t('keymap.forDevice', DeviceState.name(d))));
    });
    return out;
  }

  function fillSelect(select) {
    var keep = select.value;
    select.textContent = '';
    maps().forEach(function (m) {
      select.appendChild(el('option', {value: m.id, textContent: m.label}));
    });
    select.value = keep;
    if (select.selectedIndex < 0)
      select.selectedIndex = 0;
  }

  function chosen(select) {
    var id = select.value;
    return maps().filter(function (m) { return m.id === id; })[0] || maps()[0];
  }

  // Reads a key map; resolves with its entries, rejects with a text for the user.
  function read(map) {
    var p = Bridge.request('queryProfile', {filePath: map.path, xpath: '/conf'});
    var timer = setTimeout(function () { Bridge.cancel(p.id); }, MISSING_AFTER_MS);
    return p.then(function (text) {
      clearTimeout(timer);
      if (!text.trim())
        throw {words: L('keymap.noConf')};
      try {
        return KeyMapFile.parseFile(text);
      } catch (e) {
        throw {words: L('keymap.malformed')};
      }
    }, function (e) {
      clearTimeout(timer);
      if (e && e.code === -2)
        throw {words: map.id === DEFAULT_FOLDER ? L('keymap.missingDefault') : L('keymap.missing')};
      throw {words: UI.failureText(e), detail: UI.failureDetail(e)};
    });
  }

  var loading = 0; // the newest load; an older one that ends later changes nothing

  // A key map file that is not there is known at once: the program would never answer for it.
  function load() {
    var map = chosen($('km-map'));
    var status = $('km-status');
    var mine = ++loading;
    current = null;
    $('km-create').hidden = true;
    render();
    UI.setStatus(status, L('keymap.loading'), 'busy');
    var pendingTimer = setTimeout(function () {
      if (!current && mine === loading)
        UI.setStatus(status, L('common.pending', L('keymap.loading')), 'pending');
    }, UI.PENDING_AFTER_MS);
    return UI.fileExists(map.path).then(function (there) {
      if (!there)
        throw {words: map.id === DEFAULT_FOLDER ? L('keymap.missingDefault') : L('keymap.missing'),
          missing: map.id !== DEFAULT_FOLDER};
      return read(map);
    }).then(function (file) {
      clearTimeout(pendingTimer);
      if (mine !== loading)
        return;
      current = {map: map, entries: file.entries, apps: file.apps};
      UI.setStatus(status, '');
      render();
    }, function (e) {
      clearTimeout(pendingTimer);
      if (mine !== loading)
        return;
      $('km-create').hidden = !e.missing;
      UI.setStatus(status, e.words, e.missing ? '' : 'error', e.detail);
    });
  }

  // A device's own key map, begun as a copy of the default one.
  function createFromDefault() {
    var map = chosen($('km-map'));
    if (map.id === DEFAULT_FOLDER)
      return;
    var status = $('km-status');
    $('km-create').disabled = true;
    var from = mapFor(DEFAULT_FOLDER, '').path;
    UI.track(status, Bridge.request('resetProfile', {srcFilePath: from, desFilePath: map.path}),
      L('keymap.creating'), null).then(function () {
        return writeAndReload(status, L('keymap.created', map.label));
      }).then(function () {
        $('km-create').disabled = false;
        if (chosen($('km-map')).id === map.id)
          return load().then(function () {
            UI.setStatus(status, L('keymap.created', map.label), 'ok');
          });
      }, function () {
        $('km-create').disabled = false;
      });
  }

  function triggerName(entry) {
    if (entry.flag === Keys.MOUSE_FLAG) {
      var b = Keys.buttonByDown(entry.scanCode);
      return b ? t('button.' + b.id) : t('keymap.unknownButton', entry.scanCode);
    }
    var k = Keys.byScan(entry.scanCode, entry.flag);
    if (k)
      return k.name;
    return t('keymap.unknownKey', '0x' + entry.scanCode.toString(16) + (entry.flag ? ' E0' : ''));
  }

  function remapText(entry) {
    var to = String(entry.remapTo).trim();
    if (/^none$/i.test(to))
      return t('remap.off');
    var m = /^mouse:\s*(.*)$/i.exec(to);
    if (m) {
      var b = Keys.buttonByMask(KeyMapFile.hexValue(m[1]));
      return t('remap.asOf', b ? t('button.' + b.id) : to);
    }
    var k = Keys.byUsage(KeyMapFile.hexValue(to));
    return t('remap.asOf', k ? k.name : to);
  }

  function playText(entry) {
    if (entry.remapTo != null)
      return kindOf(entry) === 'off' ? t('play.off') : t('play.remap');
    if (entry.playType === KeyMapFile.PLAY_TOGGLE)
      return t('play.toggle');
    if (entry.playType === KeyMapFile.PLAY_HOLD)
      return t('play.hold');
    if (entry.playType === KeyMapFile.PLAY_ONCE)
      return t('play.times', entry.playCount);
    return t('play.unknown', entry.playType);
  }

  function commandText(c) {
    switch (c.task) {
    case 'down':
      var k = Keys.byUsage(KeyMapFile.hexValue(c.value));
      return t('task.downOf', k ? k.name : c.value);
    case 'up':
      return t('task.upAll');
    case 'delayTime':
      return t('task.delayOf', parseInt(c.value, 10) || 0);
    case 'mouseDown':
      var b = Keys.buttonByMask(KeyMapFile.hexValue(c.value));
      return t('task.mouseDownOf', b ? t('button.' + b.id) : c.value);
    case 'mouseUp':
      return t('task.mouseUpAll');
    case 'keyDown':
    case 'keyUp':
      var held = Keys.byUsage(KeyMapFile.hexValue(c.value));
      return t('task.' + c.task + 'Of', held ? held.name : c.value);
    case 'typeText':
      return t('task.typeTextOf', c.value);
    case 'openUrl':
      return t('task.openUrlOf', c.value);
    case 'reportMsg':
      return t('task.reportMsgOf', c.value);
    default:
      return c.task + ' ' + c.value;
    }
  }

  function summary(entry) {
    if (entry.remapTo != null)
      return remapText(entry);
    if (!entry.commands.length)
      return t('keymap.inactive');
    var shown = entry.commands.slice(0, 5).map(commandText).join(', ');
    if (entry.commands.length > 5)
      shown += ', ' + t('keymap.more', entry.commands.length - 5);
    return shown;
  }

  // The entries of the section shown.
  function shown() {
    if (!current)
      return [];
    if (!section)
      return current.entries;
    var app = current.apps.filter(function (a) { return a.name === section; })[0];
    return app ? app.entries : [];
  }

  // The file with the shown section's entries replaced by `list`.
  function withShown(list) {
    if (!section)
      return {entries: list, apps: current.apps};
    return {entries: current.entries, apps: current.apps.map(function (a) {
      return a.name === section ? {name: a.name, entries: list} : a;
    })};
  }

  function keep(map, file) {
    if (current && current.map.id === map.id) {
      current.entries = file.entries;
      current.apps = file.apps;
      render();
    }
  }

  function fillSections() {
    var select = $('km-section');
    select.textContent = '';
    select.appendChild(el('option', {value: '', textContent: t('keymap.everyApp')}));
    (current ? current.apps : []).forEach(function (a) {
      select.appendChild(el('option', {value: a.name, textContent: t('keymap.inApp', a.name)}));
    });
    select.value = section;
    if (select.value !== section) {
      section = '';
      select.value = '';
    }
    select.disabled = !current;
    $('km-app-remove').hidden = !section;
    $('km-app-add').disabled = !current;
  }

  function render() {
    fillSections();
    var body = $('km-table').tBodies[0];
    body.textContent = '';
    var entries = shown();
    $('km-empty').hidden = !current || entries.length > 0;
    $('km-empty').textContent = section ? t('keymap.emptyApp', section) : t('keymap.empty');
    $('km-add').disabled = !current;
    entries.forEach(function (entry, i) {
      var nameText = triggerName(entry);
      body.appendChild(el('tr', {}, [
        el('td', {className: 'trigger', textContent: nameText}),
        el('td', {textContent: playText(entry)}),
        el('td', {className: 'summary', textContent: summary(entry)}),
        el('td', {className: 'actions'}, [
          el('button', {type: 'button', textContent: t('common.edit'),
            attrs: {'aria-label': t('keymap.editOf', nameText)},
            on: {click: function () { openEditor(i, entry); }}}),
          el('button', {type: 'button', textContent: t('common.remove'),
            attrs: {'aria-label': t('keymap.removeOf', nameText)},
            on: {click: function () { removeEntry(i, nameText); }}})
        ])
      ]));
    });
  }

  // Writes the whole key map into its file and has the program read the key maps again.
  function save(map, file, status, doneText) {
    var fragment = KeyMapFile.serialize(file.entries, file.apps);
    return UI.track(status, Bridge.request('modifyProfileEx',
      {filePath: map.path, xpath: '/conf', subTreeString: fragment}), L('keymap.saving'), null)
      .then(function () { return writeAndReload(status, doneText); });
  }

  // Resolves once the file is written; the program's reading of it is followed in the status
  // line (a program that never answers leaves it shown as pending).
  function writeAndReload(status, doneText) {
    return UI.track(status, Bridge.request('savexml'), L('keymap.writing'), null)
      .then(function () {
        UI.track(status, Bridge.request('keyMapChanged'), L('keymap.handing'), doneText)
          .catch(function () {});
      });
  }

  function removeEntry(index, nameText) {
    if (!current)
      return;
    UI.confirm(t('keymap.removeAsk', nameText), t('common.remove')).then(function (yes) {
      if (!yes)
        return;
      var entries = shown().slice();
      entries.splice(index, 1);
      var map = current.map;
      var file = withShown(entries);
      save(map, file, $('km-status'), L('keymap.removed', nameText)).then(function () {
        keep(map, file);
      }, function () { /* shown in the status line */ });
    });
  }

  // ----- mapping editor -----

  function fillTriggerSelect() {
    var select = $('map-trigger');
    select.textContent = '';
    var keysGroup = el('optgroup', {label: t('mapping.keys')});
    Keys.all.forEach(function (k) {
      keysGroup.appendChild(el('option', {value: k.scan + ':' + k.ext, textContent: k.name}));
    });
    var mouseGroup = el('optgroup', {label: t('mapping.buttons')});
    Keys.mappableButtons.forEach(function (b) {
      mouseGroup.appendChild(el('option', {value: b.down + ':' + Keys.MOUSE_FLAG,
        textContent: t('button.' + b.id)}));
    });
    select.appendChild(keysGroup);
    select.appendChild(mouseGroup);
  }

  function fillTaskSelect(select, value) {
    select.textContent = '';
    KeyMapFile.TASKS.forEach(function (task) {
      select.appendChild(el('option', {value: task, textContent: t('task.' + task)}));
    });
    if (value && KeyMapFile.TASKS.indexOf(value) < 0)
      select.appendChild(el('option', {value: value, textContent: value}));
    if (value)
      select.value = value;
  }

  // ----- what the key does: commands, another key, a mouse button, nothing -----

  function kindOf(entry) {
    if (entry.remapTo == null)
      return 'commands';
    var to = String(entry.remapTo).trim();
    return /^none$/i.test(to) ? 'off' : /^mouse:/i.test(to) ? 'button' : 'key';
  }

  function fillRemapSelects(entry) {
    var keySelect = $('map-remapkey');
    keySelect.textContent = '';
    Keys.all.forEach(function (k) {
      keySelect.appendChild(el('option', {value: KeyMapFile.hex2(k.usage), textContent: k.name}));
    });
    var buttonSelect = $('map-remapbutton');
    buttonSelect.textContent = '';
    Keys.buttons.forEach(function (b) {
      buttonSelect.appendChild(el('option', {value: b.mask.toString(16), textContent: t('button.' + b.id)}));
    });
    var kind = kindOf(entry);
    var to = String(entry.remapTo || '').trim();
    var key = kind === 'key' ? Keys.byUsage(KeyMapFile.hexValue(to)) : null;
    keySelect.value = KeyMapFile.hex2(key ? key.usage : Keys.byCode('ControlLeft').usage);
    var button = kind === 'button' ? Keys.buttonByMask(KeyMapFile.hexValue(to.replace(/^mouse:/i, ''))) : null;
    buttonSelect.value = (button ? button.mask : 1).toString(16);
    $('map-kind').value = kind;
  }

  function kindChanged() {
    var kind = $('map-kind').value;
    $('map-remapkey-label').hidden = kind !== 'key';
    $('map-remapbutton-label').hidden = kind !== 'button';
    $('map-play-part').hidden = kind !== 'commands';
    $('map-kind-hint').hidden = kind === 'commands';
    $('map-kind-hint').textContent = kind === 'commands' ? '' : t('mapping.kindHint.' + kind);
  }

  // The remapTo of the editor's choice, or null for commands.
  function chosenRemap() {
    switch ($('map-kind').value) {
    case 'key':
      return $('map-remapkey').value;
    case 'button':
      return 'mouse:' + $('map-remapbutton').value;
    case 'off':
      return 'none';
    default:
      return null;
    }
  }

  // The key a new mapping starts on: Caps Lock, or else the first of F1 to F12 and then of the
  // other keys and buttons that the section shown leaves free.
  function firstUnmapped() {
    var entries = shown();
    var free = function (scan, flag) { return KeyMapFile.indexOf(entries, scan, flag) < 0; };
    var caps = Keys.byCode('CapsLock');
    if (free(caps.scan, caps.ext))
      return {scanCode: caps.scan, flag: caps.ext};
    var fkeys = Keys.all.filter(function (k) { return /^F([1-9]|1[0-2])$/.test(k.name); });
    var key = fkeys.concat(Keys.all).filter(function (k) { return free(k.scan, k.ext); })[0];
    if (key)
      return {scanCode: key.scan, flag: key.ext};
    var button = Keys.mappableButtons.filter(function (b) { return free(b.down, Keys.MOUSE_FLAG); })[0];
    return button ? {scanCode: button.down, flag: Keys.MOUSE_FLAG} : {scanCode: caps.scan, flag: caps.ext};
  }

  // `entry` null for a new mapping; one without a trigger (scanCode null) gets the first free one.
  function openEditor(index, entry) {
    var copy = entry ? JSON.parse(JSON.stringify(entry))
      : {scanCode: null, flag: 0, playType: 0, playCount: 1, commands: []};
    if (copy.scanCode == null) {
      var start = firstUnmapped();
      copy.scanCode = start.scanCode;
      copy.flag = start.flag;
    }
    editing = {index: index, entry: copy};
    fillTriggerSelect();
    var value = copy.scanCode + ':' + copy.flag;
    var select = $('map-trigger');
    if (!Array.prototype.some.call(select.options, function (o) { return o.value === value; }))
      select.appendChild(el('option', {value: value, textContent: triggerName(copy)}));
    select.value = value;
    $('map-playtype').value = String(copy.playType);
    $('map-playcount').value = String(copy.playCount > 0 ? copy.playCount : 1);
    $('map-title').textContent = index < 0 ? t('mapping.newTitle') : t('mapping.editTitle', triggerName(copy));
    UI.setStatus($('map-status'), '');
    fillRemapSelects(copy);
    kindChanged();
    $('map-save').disabled = false;
    playTypeChanged();
    renderCommands();
    editing.initial = editorState();
    $('map-dialog').showModal();
    select.focus();
  }

  // What the editor holds now, to tell whether anything would be lost by closing it.
  function editorState() {
    return JSON.stringify([$('map-trigger').value, $('map-playtype').value, $('map-playcount').value,
      chosenRemap(), editing ? editing.entry.commands : []]);
  }

  // Closes the editor; changes not saved are given up only when the user agrees.
  function closeEditor() {
    var dialog = $('map-dialog');
    if (!dialog.open)
      return;
    if (!editing || editorState() === editing.initial) {
      dialog.close();
      return;
    }
    UI.confirm(t('mapping.discardAsk'), t('mapping.discard')).then(function (yes) {
      if (yes)
        dialog.close();
    });
  }

  function playTypeChanged() {
    $('map-count-label').hidden = $('map-playtype').value !== '0';
  }

  function valueControl(c, index) {
    var id = 'map-value-' + index;
    var label = function (textKey) {
      return el('label', {className: 'sr', htmlFor: id, textContent: t(textKey)});
    };
    var set = function (v) { editing.entry.commands[index].value = v; };
    var control = null;
    switch (c.task) {
    case 'down':
    case 'keyDown':
    case 'keyUp':
      control = el('select', {id: id, on: {change: function (e) { set(e.target.value); }}});
      Keys.all.forEach(function (k) {
        control.appendChild(el('option', {value: KeyMapFile.hex2(k.usage), textContent: k.name}));
      });
      var usage = KeyMapFile.hex2(KeyMapFile.hexValue(c.value));
      if (!Keys.byUsage(KeyMapFile.hexValue(c.value)))
        control.appendChild(el('option', {value: c.value, textContent: c.value || '?'}));
      control.value = Keys.byUsage(KeyMapFile.hexValue(c.value)) ? usage : c.value;
      set(control.value);
      return [label('mapping.valueKey'), control];
    case 'mouseDown':
      control = el('select', {id: id, on: {change: function (e) { set(e.target.value); }}});
      Keys.buttons.forEach(function (b) {
        control.appendChild(el('option', {value: b.mask.toString(16), textContent: t('button.' + b.id)}));
      });
      var b = Keys.buttonByMask(KeyMapFile.hexValue(c.value));
      control.value = b ? b.mask.toString(16) : '1';
      set(control.value);
      return [label('mapping.valueButton'), control];
    case 'delayTime':
      control = el('input', {id: id, type: 'number', min: '0', max: '600000', className: 'num',
        value: String(parseInt(c.value, 10) || 0),
        on: {input: function (e) { set(String(Math.max(0, parseInt(e.target.value, 10) || 0))); }}});
      set(control.value);
      return [label('mapping.valueMs'), control, el('span', {className: 'unit', textContent: t('unit.ms')})];
    case 'openUrl':
    case 'reportMsg':
    case 'typeText':
      control = el('input', {id: id, className: 'grow', value: c.value, spellcheck: false,
        placeholder: t(c.task === 'openUrl' ? 'mapping.pathHint' : c.task === 'reportMsg'
          ? 'mapping.windowTextHint' : 'mapping.textHint'),
        on: {input: function (e) { set(e.target.value); }}});
      return [label(c.task === 'openUrl' ? 'mapping.valuePath' : 'mapping.valueText'), control];
    case 'up':
    case 'mouseUp':
      set('');
      return [];
    default:
      control = el('input', {id: id, value: c.value, on: {input: function (e) { set(e.target.value); }}});
      return [label('mapping.valueText'), control];
    }
  }

  function renderCommands(focusIndex, focusWhat) {
    var list = $('map-commands');
    list.textContent = '';
    var commands = editing.entry.commands;
    $('map-nocommands').hidden = commands.length > 0;
    commands.forEach(function (c, i) {
      var taskSelect = el('select', {id: 'map-task-' + i, attrs: {'aria-label': t('mapping.taskOf', i + 1)},
        on: {change: function (e) {
          commands[i] = {task: e.target.value, value: ''};
          renderCommands(i, 'task');
        }}});
      fillTaskSelect(taskSelect, c.task);
      var move = function (to) {
        var item = commands.splice(i, 1)[0];
        commands.splice(to, 0, item);
        renderCommands(to, to < i ? 'up' : 'down');
      };
      var li = el('li', {className: 'command'}, [
        el('span', {className: 'step', textContent: String(i + 1)}), taskSelect]
        .concat(valueControl(c, i))
        .concat([el('span', {className: 'spacer'}),
          el('button', {type: 'button', className: 'icon up', textContent: '\u2191', disabled: i === 0,
            attrs: {'aria-label': t('mapping.moveUp', i + 1)}, on: {click: function () { move(i - 1); }}}),
          el('button', {type: 'button', className: 'icon down', textContent: '\u2193',
            disabled: i === commands.length - 1,
            attrs: {'aria-label': t('mapping.moveDown', i + 1)}, on: {click: function () { move(i + 1); }}}),
          el('button', {type: 'button', className: 'icon remove', textContent: '\u00d7',
            attrs: {'aria-label': t('mapping.removeCommand', i + 1)},
            on: {click: function () {
              commands.splice(i, 1);
              renderCommands(Math.min(i, commands.length - 1), 'task');
            }}})]));
      list.appendChild(li);
    });
    if (focusIndex != null && focusIndex >= 0) {
      var li = list.children[focusIndex];
      var target = li && (focusWhat === 'up' ? li.querySelector('.up:not([disabled])')
        : focusWhat === 'down' ? li.querySelector('.down:not([disabled])') : null);
      (target || (li && li.querySelector('select')) || $('map-newtask')).focus();
    }
  }

  function addCommand() {
    var task = $('map-newtask').value;
    var value = /^(down|keyDown|keyUp)$/.test(task) ? '04' : task === 'delayTime' ? '50'
      : task === 'mouseDown' ? '1' : '';
    editing.entry.commands.push({task: task, value: value});
    renderCommands(editing.entry.commands.length - 1, 'task');
  }

  function addMacro() {
    var commands = Macro.commands();
    if (!commands.length) {
      UI.error($('map-status'), L('mapping.noMacro'));
      return;
    }
    Array.prototype.push.apply(editing.entry.commands, commands);
    renderCommands();
    UI.setStatus($('map-status'), L('mapping.macroAdded', commands.length), 'ok');
  }

  // Waits for the next key or mouse button and chooses it as the trigger.
  function capture() {
    var button = $('map-capture');
    var dialog = $('map-dialog');
    button.textContent = t('mapping.capturing');
    button.setAttribute('aria-pressed', 'true');
    function done() {
      dialog.removeEventListener('keydown', onKey, true);
      dialog.removeEventListener('mousedown', onMouse, true);
      dialog.removeEventListener('contextmenu', stop, true);
      button.textContent = t('mapping.capture');
      button.removeAttribute('aria-pressed');
    }
    function stop(e) { e.preventDefault(); }
    function onKey(e) {
      e.preventDefault();
      e.stopPropagation();
      done();
      // Escape gives up choosing by key; Esc itself can still be picked from the list.
      if (e.key === 'Escape') {
        UI.setStatus($('map-status'), '');
        button.focus();
        return;
      }
      var k = Keys.byCode(e.code);
      if (!k) {
        UI.error($('map-status'), L('mapping.unknownKey', e.code || e.key));
        return;
      }
      $('map-trigger').value = k.scan + ':' + k.ext;
      UI.setStatus($('map-status'), L('mapping.captured', k.name), 'ok');
      $('map-trigger').focus();
    }
    // Browser buttons: 1 middle, 2 right, 3 back (button 4), 4 forward (button 5).
    var MOUSE = {1: 'middle', 2: 'right', 3: 'button4', 4: 'button5'};
    function onMouse(e) {
      if (e.target === button && e.button === 0)
        return;
      var id = MOUSE[e.button];
      if (!id)
        return;
      e.preventDefault();
      done();
      var b = Keys.mappableButtons.filter(function (x) { return x.id === id; })[0];
      $('map-trigger').value = b.down + ':' + Keys.MOUSE_FLAG;
      UI.setStatus($('map-status'), L('mapping.captured', L('button.' + id)), 'ok');
    }
    dialog.addEventListener('keydown', onKey, true);
    dialog.addEventListener('mousedown', onMouse, true);
    dialog.addEventListener('contextmenu', stop, true);
  }

  function saveEditor() {
    if (!current || !editing)
      return;
    var parts = $('map-trigger').value.split(':');
    var remap = chosenRemap();
    var playType = parseInt($('map-playtype').value, 10);
    var count = parseInt($('map-playcount').value, 10);
    if (remap == null && playType === KeyMapFile.PLAY_ONCE &&
        (isNaN(count) || count < 1 || count > 9999)) {
      UI.error($('map-status'), L('mapping.badCount'));
      $('map-playcount').focus();
      return;
    }
    if (remap == null && !editing.entry.commands.length) {
      UI.error($('map-status'), L('mapping.needCommands'));
      $('map-newtask').focus();
      return;
    }
    // A key acting as another plays no list: none is kept with it.
    var entry = {scanCode: parseInt(parts[0], 10), flag: parseInt(parts[1], 10),
      playType: remap != null ? 0 : playType,
      playCount: remap != null ? 0 : playType === KeyMapFile.PLAY_ONCE ? count : 1,
      commands: remap != null ? [] : editing.entry.commands.slice()};
    if (remap != null)
      entry.remapTo = remap;
    var entries = shown().slice();
    var other = KeyMapFile.indexOf(entries, entry.scanCode, entry.flag);
    if (other >= 0 && other !== editing.index) {
      UI.error($('map-status'), L('mapping.taken', triggerName(entry)));
      $('map-trigger').focus();
      return;
    }
    if (editing.index >= 0)
      entries[editing.index] = entry;
    else
      entries.push(entry);
    var map = current.map;
    var nameText = triggerName(entry);
    // Disabled until the program has answered (or the user stopped waiting): a second save
    // would write the key map twice. The dialog closes once the file holds the mapping; the
    // program's reload is followed on the screen.
    $('map-save').disabled = true;
    var file = withShown(entries);
    UI.track($('map-status'), Bridge.request('modifyProfileEx',
      {filePath: map.path, xpath: '/conf', subTreeString: KeyMapFile.serialize(file.entries, file.apps)}),
    L('keymap.saving'), null).then(function () {
      $('map-save').disabled = false;
      $('map-dialog').close();
      keep(map, file);
      return writeAndReload($('km-status'), L('keymap.saved', nameText));
    }, function () {
      $('map-save').disabled = false;
    });
  }

  // ----- application sections -----

  function addApp() {
    if (!current)
      return;
    var status = $('km-status');
    var name = KeyMapFile.appName($('km-app-name').value);
    if (!name || /[<>&"]/.test(name)) {
      UI.error(status, L('keymap.badApp'));
      $('km-app-name').focus();
      return;
    }
    if (current.apps.some(function (a) { return a.name === name; })) {
      section = name;
      render();
      UI.setStatus(status, L('keymap.appThere', name), 'ok');
      return;
    }
    var map = current.map;
    var file = {entries: current.entries, apps: current.apps.concat([{name: name, entries: []}])};
    save(map, file, status, L('keymap.appAdded', name)).then(function () {
      $('km-app-name').value = '';
      section = name;
      keep(map, file);
    }, function () { /* shown in the status line */ });
  }

  function removeApp() {
    if (!current || !section)
      return;
    var name = section;
    UI.confirm(t('keymap.removeAppAsk', name, shown().length), t('keymap.removeApp')).then(function (yes) {
      if (!yes || !current)
        return;
      var map = current.map;
      var file = {entries: current.entries,
        apps: current.apps.filter(function (a) { return a.name !== name; })};
      save(map, file, $('km-status'), L('keymap.appRemoved', name)).then(function () {
        section = '';
        keep(map, file);
      }, function () { /* shown in the status line */ });
    });
  }

  // ----- key mapping mode -----

  function renderSwitch() {
    var sw = $('vd-switch');
    sw.setAttribute('aria-checked', String(vdOn));
    sw.classList.toggle('busy', vdBusy);
    $('vd-label').textContent = t(vdOn ? 'vd.on' : 'vd.off');
    var pill = $('sb-vd');
    pill.textContent = t(vdOn ? 'vd.pillOn' : 'vd.pillOff');
    pill.classList.toggle('on', vdOn);
  }

  // The program's words when the input devices of the system cannot be reached; it says so
  // when the mode goes on, before or after the answer.
  function showDevicesMissing() {
    UI.error($('km-status'), L('vd.noDevices', devicesMissing));
  }

  function switchMode(on) {
    vdBusy = true;
    renderSwitch();
    var p = Bridge.request(on ? 'startVDevice' : 'stopVDevice');
    UI.track($('km-status'), p, L(on ? 'vd.starting' : 'vd.stopping'), function () {
      vdBusy = false;
      vdOn = on;
      sessionStorage.setItem('tavix.vdevice', on ? '1' : '0');
      renderSwitch();
      if (on && devicesMissing) {
        showDevicesMissing();
        return null;
      }
      return L(on ? 'vd.started' : 'vd.stopped');
    }).catch(function () {
      vdBusy = false;
      renderSwitch();
    });
  }

  function init() {
    fillSelect($('km-map'));
    fillTaskSelect($('map-newtask'), 'keyDown');
    $('km-map').addEventListener('change', load);
    $('km-reload').addEventListener('click', load);
    $('km-add').addEventListener('click', function () { openEditor(-1, null); });
    $('km-create').addEventListener('click', createFromDefault);
    $('map-playtype').addEventListener('change', playTypeChanged);
    $('map-kind').addEventListener('change', kindChanged);
    $('km-section').addEventListener('change', function (e) {
      section = e.target.value;
      render();
    });
    $('km-app-form').addEventListener('submit', function (e) {
      e.preventDefault();
      addApp();
    });
    $('km-app-remove').addEventListener('click', removeApp);
    $('map-addcmd').addEventListener('click', addCommand);
    $('map-usemacro').addEventListener('click', addMacro);
    $('map-capture').addEventListener('click', capture);
    $('map-cancel').addEventListener('click', closeEditor);
    // Escape asks too before unsaved changes are given up.
    $('map-dialog').addEventListener('cancel', function (e) {
      e.preventDefault();
      closeEditor();
    });
    $('map-form').addEventListener('submit', function (e) {
      e.preventDefault();
      saveEditor();
    });
    $('vd-switch').addEventListener('click', function () { switchMode(!vdOn); });
    Bridge.on('inputDevicesMissing', function (args) {
      devicesMissing = args[0] || '';
      if (vdOn && !vdBusy)
        showDevicesMissing();
    });
    // The program's hotkey only tells the page; the page switches. With "0" the program has
    // switched key mapping off itself: the emergency stop.
    Bridge.on('onSwitchVirtualDevice', function (args) {
      if (String(args[0]) === '0') {
        vdOn = false;
        sessionStorage.setItem('tavix.vdevice', '0');
        renderSwitch();
        UI.error($('km-status'), L('vd.emergency'));
        UI.flash(L('vd.emergency'));
        return;
      }
      switchMode(!vdOn);
      UI.flash(L(!vdOn ? 'vd.hotkeyOn' : 'vd.hotkeyOff'));
    });
    DeviceState.watch(function () {
      var before = $('km-map').value;
      fillSelect($('km-map'));
      if ($('km-map').value !== before)
        load();
    });
    renderSwitch();
    // The program may have switched key mapping on at its start (or off): it says which.
    Bridge.request('getVDevice').then(function (on) {
      if (vdBusy)
        return;
      vdOn = on === '1';
      sessionStorage.setItem('tavix.vdevice', vdOn ? '1' : '0');
      renderSwitch();
    }, function () { /* an older program: the page's own memory stands */ });
    load();
  }

  function relabel() {
    renderSwitch();
    if ($('map-dialog').open)
      kindChanged();
    fillSelect($('km-map'));
    render();
  }

  Screens.add({name: 'keymap', init: init, relabel: relabel});

  return {
    maps: maps,
    fillSelect: fillSelect,
    chosen: chosen,
    load: load,
    writeAndReload: writeAndReload,
    openEditor: openEditor,
    current: function () { return current; },
    section: function () { return section; },
    vdOn: function () { return vdOn; },
    DEFAULT_FOLDER: DEFAULT_FOLDER
  };
})();
