// The settings screen: every setting of the program's configuration that can be changed, the
// pointer settings of the system, the page's language, and the factory settings.
var Settings = (function () {
  'use strict';
  var $ = UI.$, el = UI.el, t = I18n.t, L = I18n.later;

  var PAGE_FILE = 'view/xml/page.xml';
  // Filled in by the program at start or by its online services, or the key that update packages
  // are checked against: shown, not edited.
  var READ_ONLY = ['version', 'MacAddress', 'IpAddress', 'synchronize', 'updateKey'];
  var OWN_CONTROLS = ['autoStart', 'keyMappingAtStart', 'closeFunc', 'fastSwitch', 'testTool'];

  // "width,height" in whole pixels within the limits; the program reads anything else as its
  // default size, or as no size at all.
  function sizeCheck(minWidth, minHeight) {
    return function (value) {
      var m = /^\s*(\d{1,5})\s*,\s*(\d{1,5})\s*$/.exec(value);
      return !!m && Number(m[1]) >= minWidth && Number(m[1]) <= 7680 &&
        Number(m[2]) >= minHeight && Number(m[2]) <= 4320;
    };
  }

  // The settings of the advanced list the page knows: how each is checked before it is stored,
  // and the words that explain it. Others are stored as written.
  var FIELDS = {
    apiServer: {
      check: function (v) { return /^https?:\/\/[^\s\/?#@]+$/i.test(v); },
      hint: 'conf.apiServerHint', bad: 'conf.apiServerBad'
    },
    clientSize: {check: sizeCheck(800, 600), hint: 'conf.clientSizeHint', bad: 'conf.clientSizeBad'},
    testToolSize: {check: sizeCheck(200, 150), hint: 'conf.testToolSizeHint', bad: 'conf.testToolSizeBad'},
    testToolRurl: {
      check: function (v) {
        return /^\/[^\s?#\\]+$/.test(v) && !/(^|\/)\.\.(\/|$)/.test(v) && !/\/\//.test(v);
      },
      hint: 'conf.testToolRurlHint', bad: 'conf.testToolRurlBad'
    }
  };

  var conf = null;
  var testToolPage = null; // whether the test tool's page exists, once known

  function load() {
    loadMouse();
    return UI.track($('set-status'), Bridge.request('getConf'), L('settings.loading'), function (text) {
      var parsed = UI.parseJson(text);
      if (!Array.isArray(parsed) || typeof parsed[0] !== 'object') {
        UI.setStatus($('set-status'), L('settings.badAnswer'), 'error', text);
        return null;
      }
      conf = parsed[0];
      render();
      checkTestToolPage();
      return '';
    });
  }

  // The system's pointer speed as it is now, and the wheel lines where the system has them.
  function loadMouse() {
    Bridge.request('getMouseSettings').then(function (text) {
      var m = UI.parseJson(text) || {};
      var speed = parseInt(m.speed, 10);
      if (speed >= 1 && speed <= 20) {
        $('set-speed').value = String(speed);
        $('set-speed-out').value = String(speed);
      }
      var lines = parseInt(m.scrollLines, 10);
      $('set-lines-form').hidden = isNaN(lines);
      if (!isNaN(lines))
        $('set-lines').value = String(lines);
    }, function () {
      $('set-lines-form').hidden = true;
    });
  }

  // "Ctrl+Shift+F9,1" -> {sequence, accepted}
  function hotkey(value) {
    var text = String(value || '');
    var comma = text.lastIndexOf(',');
    if (comma < 0)
      return {sequence: text, accepted: null};
    return {sequence: text.slice(0, comma), accepted: text.slice(comma + 1) === '1'};
  }

  // What the system made of a program hotkey; the test tool's also says whether the page it
  // opens is there.
  function showFlag(key, sequence, accepted) {
    var flag = $(key === 'fastSwitch' ? 'set-fastswitch-flag' : 'set-testtool-flag');
    var kind = '', text = '';
    if (!sequence) {
      text = t('settings.noHotkey');
    } else if (accepted === false) {
      text = t('settings.refused');
      kind = 'error';
    } else if (accepted && key === 'testTool' && testToolPage === false) {
      text = t('settings.noPage');
      kind = 'warn';
    } else if (accepted) {
      text = t('settings.accepted');
      kind = 'ok';
    }
    flag.className = 'flag' + (kind ? ' ' + kind : '');
    flag.textContent = text;
  }

  function showFlags() {
    if (!conf)
      return;
    ['fastSwitch', 'testTool'].forEach(function (key) {
      var h = hotkey(conf[key]);
      showFlag(key, h.sequence, h.accepted);
    });
  }

  function checkTestToolPage() {
    var rurl = conf && conf.testToolRurl;
    testToolPage = null;
    if (!rurl || !FIELDS.testToolRurl.check(rurl)) {
      testToolPage = false;
      showFlags();
      return;
    }
    UI.fileExists(rurl).then(function (there) {
      if (conf && conf.testToolRurl === rurl) {
        testToolPage = there;
        showFlags();
      }
    });
  }

  function render() {
    $('set-autostart').checked = conf.autoStart === 'true';
    $('set-mapatstart').checked = conf.keyMappingAtStart === '1';
    var close = $('set-closefunc');
    if (conf.closeFunc != null && !Array.prototype.some.call(close.options, function (o) {
      return o.value === conf.closeFunc;
    }))
      close.appendChild(el('option', {value: conf.closeFunc, textContent: conf.closeFunc}));
    close.value = conf.closeFunc || 'hide';
    $('set-fastswitch').value = hotkey(conf.fastSwitch).sequence;
    $('set-testtool').value = hotkey(conf.testTool).sequence;
    showFlags();
    $('set-autostart').disabled = !('autoStart' in conf);
    // A settings file from before this setting cannot take it.
    $('set-mapatstart').disabled = !('keyMappingAtStart' in conf);
    $('set-closefunc').disabled = !('closeFunc' in conf);

    var other = $('set-other');
    other.textContent = '';
    Object.keys(conf).sort().forEach(function (key) {
      if (READ_ONLY.indexOf(key) >= 0 || OWN_CONTROLS.indexOf(key) >= 0)
        return;
      var id = 'set-conf-' + key.replace(/[^A-Za-z0-9_-]/g, '_');
      var field = FIELDS[key];
      var input = el('input', {id: id, value: conf[key], spellcheck: false, className: 'grow',
        attrs: {'data-conf': key, 'aria-describedby': id + '-hint'}});
      input.addEventListener('change', function () { changeAdvanced(key, input); });
      other.appendChild(el('div', {className: 'field'}, [
        el('label', {htmlFor: id, textContent: labelOf(key)}), input]));
      other.appendChild(el('p', {id: id + '-hint', className: 'hint field-hint',
        textContent: t(field ? field.hint : 'conf.unknownHint')}));
    });
    var about = $('set-about');
    about.textContent = '';
    READ_ONLY.forEach(function (key) {
      if (!(key in conf))
        return;
      about.appendChild(el('dt', {textContent: labelOf(key)}));
      about.appendChild(el('dd', {textContent: conf[key] || '-'}));
    });
    $('upd-version').textContent = conf.version ? t('updates.version', conf.version) : '';
  }

  function labelOf(key) {
    var k = 'conf.' + key;
    return I18n.has(k) ? t(k) : key;
  }

  // A value the program could not use is refused here, with what is expected, and the field
  // shows the stored value again.
  function changeAdvanced(key, input) {
    var value = input.value.trim();
    var field = FIELDS[key];
    if (field && !field.check(value)) {
      UI.error($('set-status'), L(field.bad, value));
      input.setAttribute('aria-invalid', 'true');
      input.value = conf[key];
      input.focus();
      return;
    }
    input.removeAttribute('aria-invalid');
    input.value = value;
    change(key, value).then(function () {
      if (key === 'testToolRurl')
        checkTestToolPage();
    }, function () {
      input.value = conf[key];
    });
  }

  function change(key, value) {
    if ((key === 'fastSwitch' || key === 'testTool') && UI.reservedBySystem(value)) {
      UI.error($('set-status'), L('common.reservedKeys', value));
      $(key === 'fastSwitch' ? 'set-fastswitch' : 'set-testtool').value = hotkey(conf[key]).sequence;
      return Promise.reject({code: -3});
    }
    var p = Bridge.request('setConf', {confKey: key, confValue: value});
    var name = labelOf(key);
    return UI.track($('set-status'), p, L('settings.saving', name), function (answer) {
      if (key === 'fastSwitch' || key === 'testTool') {
        var accepted = answer === '1';
        conf[key] = value + ',' + (accepted ? '1' : '0');
        showFlag(key, value, accepted);
        if (!accepted && value) {
          UI.error($('set-status'), L('settings.hotkeyRefused', value));
          return null;
        }
      } else {
        conf[key] = value;
      }
      return L('settings.saved', name);
    });
  }

  // The language changes once the page's settings file holds it, so what is shown is what the
  // next start shows too.
  function setLanguage(lang) {
    var select = $('set-language');
    var status = $('set-status');
    var saving = L('settings.saving', L('settings.language'));
    select.disabled = true;
    UI.track(status, Bridge.request('modifyProfile',
      {filePath: PAGE_FILE, xpath: '/page', attribute: 'language', attributeValue: lang}), saving, null)
      .then(function () {
        return UI.track(status, Bridge.request('savexml'), saving, null);
      }).then(function () {
        select.disabled = false;
        I18n.setLanguage(lang);
        UI.setStatus(status, L('settings.saved', L('settings.language')), 'ok');
      }, function () {
        select.disabled = false;
        select.value = I18n.language();
      });
  }

  // The language kept in the page's own settings file; the system's language until one is set
  // (or when the file does not answer soon: a missing file is never answered).
  // `asked`: the same query already under way (the one sent while the page starts).
  function loadLanguage(asked) {
    var fallback = /^zh/i.test(navigator.language || '') ? 'zh' : 'en';
    var p = asked || Bridge.request('queryProfile', {filePath: PAGE_FILE, xpath: '/page'});
    var timer = setTimeout(function () { Bridge.cancel(p.id); }, 2000);
    return p.then(function (text) {
      clearTimeout(timer);
      var m = /\blanguage="([a-z]*)"/.exec(text);
      return m && m[1] ? m[1] : fallback;
    }, function (e) {
      clearTimeout(timer);
      if (e && e.code !== -2)
        UI.flash(UI.failureText(e));
      return fallback;
    });
  }

  function resetAll() {
    UI.confirm(t('settings.resetAsk'), t('settings.reset')).then(function (yes) {
      if (!yes)
        return;
      UI.track($('set-status'), Bridge.request('resetConf'), L('settings.resetting'), null)
        .then(function () {
          return load();
        }).then(function () {
          UI.setStatus($('set-status'), L('settings.resetDone'), 'ok');
        }, function () { /* shown in the status line */ });
    });
  }

  function init() {
    $('set-language').value = I18n.language();
    $('set-language').addEventListener('change', function (e) { setLanguage(e.target.value); });
    $('set-autostart').addEventListener('change', function (e) {
      change('autoStart', e.target.checked ? 'true' : 'false');
    });
    $('set-mapatstart').addEventListener('change', function (e) {
      change('keyMappingAtStart', e.target.checked ? '1' : '0').catch(function () {});
    });
    $('set-closefunc').addEventListener('change', function (e) { change('closeFunc', e.target.value); });
    UI.keyCapture($('set-fastswitch'), function (seq) { change('fastSwitch', seq).catch(function () {}); });
    UI.keyCapture($('set-testtool'), function (seq) { change('testTool', seq).catch(function () {}); });
    $('set-speed').addEventListener('input', function (e) {
      $('set-speed-out').value = e.target.value;
    });
    $('set-speed-form').addEventListener('submit', function (e) {
      e.preventDefault();
      var n = $('set-speed').value;
      UI.track($('set-status'), Bridge.request('modifyMouseSpeed', {speednum: String(n)}),
        L('settings.applying'), L('settings.speedSet', n));
    });
    $('set-lines-form').addEventListener('submit', function (e) {
      e.preventDefault();
      var n = Number($('set-lines').value);
      if (!Number.isInteger(n) || n < 1 || n > 100) {
        UI.error($('set-status'), L('settings.badLines'));
        $('set-lines').focus();
        return;
      }
      UI.track($('set-status'), Bridge.request('modifyMouseScrollLines', {linenum: String(n)}),
        L('settings.applying'), L('settings.linesSet', n));
    });
    $('set-reset').addEventListener('click', resetAll);
    load();
  }

  function relabel() {
    $('set-language').value = I18n.language();
    if (conf)
      render();
  }

  Screens.add({name: 'settings', init: init, relabel: relabel});

  return {
    load: load,
    loadLanguage: loadLanguage,
    conf: function () { return conf; }
  };
})();
