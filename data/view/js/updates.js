// The updates screen: the update check, the configuration sync with the server and plain file
// downloads into the program folder.
(function () {
  'use strict';
  var $ = UI.$, el = UI.el, t = I18n.t;

  var CONF_FILE = 'Resources/profiles/conf.xml';
  var SYNC_ANSWERS = {
    'current version is new': 'updates.syncCurrent',
    'upload synchrosize file success': 'updates.syncUploaded',
    'download synchronize file success': 'updates.syncDownloaded'
  };
  var unchecked = {}; // files the user took out of the sync

  function check() {
    // Never answered: the program shows the outcome in its own window.
    Bridge.send('checkUpdate');
    UI.setStatus($('upd-status'), t('updates.checkSent'), 'ok');
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
    var status = $('upd-sync-status');
    if (!chosen.length) {
      UI.error(status, t('updates.syncNone'));
      return;
    }
    UI.track(status, Bridge.request('synchronizeConf', {filePathLists: chosen.join('|')}),
      t('updates.syncing'), function (answer) {
        if (answer === 'download synchronize file success')
          Settings.load();
        return SYNC_ANSWERS[answer] ? t(SYNC_ANSWERS[answer]) : answer;
      });
  }

  function download() {
    var status = $('upd-dl-status');
    var url = $('upd-dl-url').value.trim();
    if (!/^https?:\/\/[^\s/]+/i.test(url)) {
      UI.error(status, t('updates.badUrl'));
      $('upd-dl-url').focus();
      return;
    }
    var folder = $('upd-dl-folder').value.trim().replace(/\\/g, '/');
    if (!folder.startsWith('/'))
      folder = '/' + folder;
    if (!folder.endsWith('/'))
      folder += '/';
    if (/(^|\/)\.\.(\/|$)/.test(folder)) {
      UI.error(status, t('updates.badFolder'));
      $('upd-dl-folder').focus();
      return;
    }
    $('upd-dl-folder').value = folder;
    UI.track(status, Bridge.request('downloadFile', {downloadUrl: url, relativePath: folder}),
      t('updates.downloading'), function (path) { return t('updates.downloaded', path); });
  }

  function init() {
    $('upd-check').addEventListener('click', check);
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
