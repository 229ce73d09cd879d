// The updates screen: the update check, the configuration sync with the server and plain file
// downloads into the program folder.
(function () {
  'use strict';
  var $ = UI.$, el = UI.el, t = I18n.t, L = I18n.later;

  var CONF_FILE = 'Resources/profiles/conf.xml';
  var SYNC_ANSWERS = {
    'current version is new': 'updates.syncCurrent',
    'upload synchrosize file success': 'updates.syncUploaded',
    'download synchronize file success': 'updates.syncDownloaded'
  };
  // What the program found, as it tells with "onUpdateCheck".
  var OUTCOMES = {
    found: ['updates.found', 'ok'],
    latest: ['updates.latest', 'ok'],
    none: ['updates.nothingOffered', 'ok'],
    noDevice: ['updates.noDevice', 'error'],
    unreachable: ['updates.unreachable', 'error'],
    badAnswer: ['updates.badAnswer', 'error'],
    noConf: ['fail.noConf', 'error']
  };
  var CHECK_GIVES_UP_MS = 60000;
  var unchecked = {}; // files the user took out of the sync
  var checking = null; // the timer of a check that has not told its outcome yet

  // The request itself is never answered; the outcome comes as an event.
  function check() {
    Bridge.send('checkUpdate');
    $('upd-check').disabled = true;
    UI.setStatus($('upd-status'), L('updates.checking'), 'busy');
    clearTimeout(checking);
    checking = setTimeout(function () {
      checking = null;
      $('upd-check').disabled = false;
      UI.setStatus($('upd-status'), L('updates.noOutcome'), 'error');
    }, CHECK_GIVES_UP_MS);
  }

  function checked(args) {
    var outcome = String(args[0] || '');
    var shown = OUTCOMES[outcome] || ['updates.badAnswer', 'error'];
    clearTimeout(checking);
    checking = null;
    $('upd-check').disabled = false;
    UI.setStatus($('upd-status'), L(shown[0]), shown[1], args.slice(1).join(' '));
  }

  function syncFiles() {
    var files = [{path: CONF_FILE, label: t('updates.confFile'), on: true}];
    KeyMap.maps().forEach(function (m) {
      files.push({path: m.path, label: m.label, on: m.id === KeyMap.DEFAULT_FOLDER});
    });
    return files;
  }

  function renderFiles() {
    var ul = $('upd-files');
    ul.textContent = '';
    syncFiles().forEach(function (f, i) {
      var id = 'upd-file-' + i;
      var box = el('input', {type: 'checkbox', id: id, value: f.path,
        checked: f.path in unchecked ? !unchecked[f.path] : f.on,
        on: {change: function (e) { unchecked[f.path] = !e.target.checked; }}});
      ul.appendChild(el('li', {}, [box, el('label', {htmlFor: id}, [
        el('span', {textContent: f.label}), el('span', {className: 'path', textContent: f.path})])]));
    });
  }

  function sync() {
    var chosen = Array.prototype.filter.call($('upd-files').querySelectorAll('input'), function (b) {
      return b.checked;
    }).map(function (b) { return b.value; });
    var status = $('upd-status');
    if (!chosen.length) {
      UI.error(status, L('updates.syncNone'));
      return;
    }
    UI.track(status, Bridge.request('synchronizeConf', {filePathLists: chosen.join('|')}),
      L('updates.syncing'), function (answer) {
        if (answer === 'download synchronize file success')
          Settings.load();
        if (SYNC_ANSWERS[answer])
          return L(SYNC_ANSWERS[answer]);
        UI.setStatus(status, L('updates.syncOther'), 'ok', answer);
        return null;
      });
  }

  function download() {
    var status = $('upd-status');
    var url = $('upd-dl-url').value.trim();
    if (!/^https?:\/\/[^\s/]+/i.test(url)) {
      UI.error(status, L('updates.badUrl'));
      $('upd-dl-url').focus();
      return;
    }
    var folder = $('upd-dl-folder').value.trim().replace(/\\/g, '/');
    if (!folder.startsWith('/'))
      folder = '/' + folder;
    if (!folder.endsWith('/'))
      folder += '/';
    if (/(^|\/)\.\.(\/|$)/.test(folder)) {
      UI.error(status, L('updates.badFolder'));
      $('upd-dl-folder').focus();
      return;
    }
    $('upd-dl-folder').value = folder;
    UI.track(status, Bridge.request('downloadFile', {downloadUrl: url, relativePath: folder}),
      L('updates.downloading'), function (path) { return L('updates.downloaded', path); });
  }

  function init() {
    $('upd-check').addEventListener('click', check);
    Bridge.on('onUpdateCheck', checked);
    $('upd-sync').addEventListener('click', sync);
    $('upd-dl-form').addEventListener('submit', function (e) {
      e.preventDefault();
      download();
    });
    DeviceState.watch(renderFiles);
    renderFiles();
  }

  Screens.add({name: 'updates', init: init, relabel: renderFiles});
})();
