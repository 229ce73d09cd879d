// The profiles screen: a key map exported to and imported from a profile package file (.pfd),
// and put back to the one the program came with.
(function () {
  'use strict';
  var $ = UI.$, t = I18n.t;

  function map() {
    return KeyMap.chosen($('pf-map'));
  }

  // The program's own file window; it answers nothing when the user closes it without a choice.
  function browse(funcname, input, status) {
    UI.setStatus(status, t('profiles.dialogOpen'), 'busy');
    Bridge.request(funcname).then(function (path) {
      input.value = path;
      UI.setStatus(status, '');
      input.focus();
    }, function (e) {
      UI.error(status, UI.failureText(e));
    });
  }

  function exportPath() {
    var path = $('pf-export-path').value.trim();
    if (path && !/\.pfd$/i.test(path))
      path += '.pfd';
    return path;
  }

  function doExport() {
    var status = $('pf-export-status');
    var path = exportPath();
    if (!path) {
      UI.error(status, t('profiles.needPath'));
      $('pf-export-path').focus();
      return;
    }
    $('pf-export-path').value = path;
    var m = map();
    UI.track(status, Bridge.request('saveXmlAs', {srcFilePath: m.path, desFilePath: path, xpath: '/conf'}),
      t('profiles.exporting'), function () { return t('profiles.exported', m.label, path); });
  }

  function doImport() {
    var status = $('pf-import-status');
    var path = $('pf-import-path').value.trim();
    if (!path) {
      UI.error(status, t('profiles.needPath'));
      $('pf-import-path').focus();
      return;
    }
    var m = map();
    UI.confirm(t('profiles.importAsk', m.label), t('profiles.importGo')).then(function (yes) {
      if (!yes)
        return;
      UI.track(status, Bridge.request('modifyReplaceProfileEx',
        {srcFilePath: path, desFilePath: m.path, srcXpath: '/conf', desXpath: '/conf'}),
      t('profiles.importing'), null).then(function () {
        return KeyMap.writeAndReload(status, t('profiles.imported', m.label));
      }).then(reloadShown.bind(null, m), function () { /* shown in the status line */ });
    });
  }

  function doReset() {
    var status = $('pf-reset-status');
    var m = map();
    UI.confirm(t('profiles.resetAsk', m.label), t('profiles.resetGo')).then(function (yes) {
      if (!yes)
        return;
      UI.track(status, Bridge.request('resetProfile', {srcFilePath: m.factory, desFilePath: m.path}),
        t('profiles.resetting'), null).then(function () {
        return KeyMap.writeAndReload(status, t('profiles.resetDone', m.label));
      }).then(reloadShown.bind(null, m), function () { /* shown in the status line */ });
    });
  }

  function reloadShown(m) {
    var shown = KeyMap.current();
    if (!shown || shown.map.id === m.id)
      KeyMap.load();
  }

  function init() {
    fillMaps();
    DeviceState.watch(fillMaps);
    $('pf-export-browse').addEventListener('click', function () {
      browse('saveFileDialog', $('pf-export-path'), $('pf-export-status'));
    });
    $('pf-import-browse').addEventListener('click', function () {
      browse('openFileDialog', $('pf-import-path'), $('pf-import-status'));
    });
    $('pf-export-form').addEventListener('submit', function (e) {
      e.preventDefault();
      doExport();
    });
    $('pf-import-form').addEventListener('submit', function (e) {
      e.preventDefault();
      doImport();
    });
    $('pf-reset').addEventListener('click', doReset);
  }

  // The key maps to choose from follow the devices and the language.
  function fillMaps() {
    KeyMap.fillSelect($('pf-map'));
  }

  Screens.add({name: 'profiles', init: init, relabel: fillMaps});
})();
