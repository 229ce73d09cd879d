// The settings screen: every setting of the program's configuration that can be changed, the
// pointer settings of the system, the page's language, and the factory settings.
var Settings = (function () {
  'use strict';
  var $ = UI.$, el = UI.el, t = I18n.t;

  var PAGE_FILE = 'view/xml/page.xml';
  // Filled in by the program at start or by its online services, or the key that update packages
  // are checked against: shown, not edited.
  var READ_ONLY = ['version', 'MacAddress', 'IpAddress', 'synchronize', 'updateKey'];
  var OWN_CONTROLS = ['autoStart', 'keyMappingAtStart', 'closeFunc', 'fastSwitch', 'testTool'];

  var conf = null;

  function load() {
    return UI.track($('set-status'), Bridge.request('getConf'), t('settings.loading'), function (text) {
      var parsed = UI.parseJson(text);
      if (!Array.isArray(parsed) || typeof parsed[0] !== 'object') {
        UI.error($('set-status'), t('settings.badAnswer'));
        return null;
      }
      conf = parsed[0];
      render();
      return '';
    });
  }

  // "Ctrl+Alt+F9,1" -> {sequence, accepted}
  function hotkey(value) {
    var text = String(value || '');
    var comma = text.lastIndexOf(',');
    if (comma < 0)
      return {sequence: text, accepted: null};
    return {sequence: text.slice(0, comma), accepted: text.slice(comma + 1) === '1'};
  }

  function showFlag(id, sequence, accepted) {
    var flag = $(id);
    flag.className = 'flag' + (accepted === false && sequence ? ' error' : accepted ? ' ok' : '');
    flag.textContent = !sequence ? t('settings.noHotkey')
      : accepted === false ? t('settings.refused') : accepted ? t('settings.accepted') : '';
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
    [['fastSwitch', 'set-fastswitch'], ['testTool', 'set-testtool']].forEach(function (p) {
      var h = hotkey(conf[p[0]]);
      $(p[1]).value = h.sequence;
      showFlag(p[1] + '-flag', h.sequence, h.accepted);
    });
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
      var input = el('input', {id: id, value: conf[key], spellcheck: false, className: 'grow',
        attrs: {'data-conf': key}});
      input.addEventListener('change', function () { change(key, input.value); });
      other.appendChild(el('div', {className: 'field'}, [
        el('label', {htmlFor: id, textContent: labelOf(key)}), input]));
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

  function change(key, value) {
    var p = Bridge.request('setConf', {confKey: key, confValue: value});
    return UI.track($('set-status'), p, t('settings.saving', labelOf(key)), function (answer) {
      if (key === 'fastSwitch' || key === 'testTool') {
        var accepted = answer === '1';
        conf[key] = value + ',' + (accepted ? '1' : '0');
        showFlag(key === 'fastSwitch' ? 'set-fastswitch-flag' : 'set-testtool-flag', value, accepted);
        if (!accepted && value) {
          UI.error($('set-status'), t('settings.hotkeyRefused', value));
          return null;
        }
      } else {
        conf[key] = value;
      }
      return t('settings.saved', labelOf(key));
    });
  }

  function setLanguage(lang) {
    I18n.setLanguage(lang);
    UI.track($('set-status'), Bridge.request('modifyProfile',
      {filePath: PAGE_FILE, xpath: '/page', attribute: 'language', attributeValue: lang}),
    t('settings.saving', t('settings.language')), null).then(function () {
      return UI.track($('set-status'), Bridge.request('savexml'),
        t('settings.saving', t('settings.language')), t('settings.saved', t('settings.language')));
    }).catch(function () { /* shown in the status line */ });
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
      UI.track($('set-status'), Bridge.request('resetConf'), t('settings.resetting'), null)
        .then(function () {
          return load();
        }).then(function () {
          UI.setStatus($('set-status'), t('settings.resetDone'), 'ok');
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
      change('keyMappingAtStart', e.target.checked ? '1' : '0');
    });
    $('set-closefunc').addEventListener('change', function (e) { change('closeFunc', e.target.value); });
    UI.keyCapture($('set-fastswitch'), function (seq) { change('fastSwitch', seq); });
    UI.keyCapture($('set-testtool'), function (seq) { change('testTool', seq); });
    $('set-speed').addEventListener('input', function (e) {
      $('set-speed-out').value = e.target.value;
    });
    $('set-speed-form').addEventListener('submit', function (e) {
      e.preventDefault();
      var n = $('set-speed').value;
      UI.track($('set-status'), Bridge.request('modifyMouseSpeed', {speednum: String(n)}),
        t('settings.applying'), t('settings.speedSet', n));
    });
    $('set-lines-form').addEventListener('submit', function (e) {
      e.preventDefault();
      var n = Number($('set-lines').value);
      if (!Number.isInteger(n) || n < 1 || n > 100) {
        UI.error($('set-status'), t('settings.badLines'));
        $('set-lines').focus();
        return;
      }
      UI.track($('set-status'), Bridge.request('modifyMouseScrollLines', {linenum: String(n)}),
        t('settings.applying'), t('settings.linesSet', n));
    });
    $('set-reset').addEventListener('click', resetAll);
    load();
  }

  Screens.add({name: 'settings', init: init, relabel: load});

  return {
    load: load,
    loadLanguage: loadLanguage,
    conf: function () { return conf; }
  };
})();
