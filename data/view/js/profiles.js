// The profiles screen: a key map exported to and imported from a profile package file (.pfd),
// and put back to the one the program came with. One status line tells the last of these.
var Profiles = (function () {
  'use strict';
  var $ = UI.$, t = I18n.t, L = I18n.later;

  function map() {
    return KeyMap.chosen($('pf-map'));
  }

  function status() {
    return $('pf-status');
  }

  var dialog = null; // the file window asked for and not yet answered: {request}

  // The program's own file window. It answers nothing when the user closes it without a choice;
  // it tells the page that the window went ("fileDialogClosed", "0" when nothing was chosen), and
  // the page then stops waiting.
  function browse(funcname, input) {
    if (dialog)
      return;
    UI.setStatus(status(), L('profiles.dialogOpen'), 'busy');
    var request = Bridge.request(funcname);
    dialog = {request: request};
    request.then(function (path) {
      dialog = null;
      input.value = path;
      UI.setStatus(status(), '');
      input.focus();
    }, function (e) {
      dialog = null;
      if (e && e.code === -2 && e.dialogClosed)
        UI.setStatus(status(), L('profiles.noFileChosen'));
      else
        UI.fail(status(), e);
    });
  }

  function dialogClosed(args) {
    if (!dialog || String(args[0]) !== '0')
      return;
    Bridge.cancel(dialog.request.id, {dialogClosed: true});
  }

  function exportPath() {
    var path = $('pf-export-path').value.trim();
    if (path && !/\.pfd$/i.test(path))
      path += '.pfd';
    return path;
  }

  function doExport() {
    var path = exportPath();
    if (!path) {
      UI.error(status(), L('profiles.needPath'));
      $('pf-export-path').focus();
      return;
    }
    $('pf-export-path').value = path;
    var m = map();
    UI.track(status(), Bridge.request('saveXmlAs', {srcFilePath: m.path, desFilePath: path, xpath: '/conf'}),
      L('profiles.exporting'), L('profiles.exported', m.label, path));
  }

  function doImport() {
    var path = $('pf-import-path').value.trim();
    if (!path) {
      UI.error(status(), L('profiles.needPath'));
      $('pf-import-path').focus();
      return;
    }
    var m = map();
    UI.confirm(t('profiles.importAsk', m.label), t('profiles.importGo')).then(function (yes) {
      if (!yes)
        return;
      UI.track(status(), Bridge.request('modifyReplaceProfileEx',
        {srcFilePath: path, desFilePath: m.path, srcXpath: '/conf', desXpath: '/conf'}),
      L('profiles.importing'), null).then(function () {
        return KeyMap.writeAndReload(status(), L('profiles.imported', m.label));
      }).then(reloadShown.bind(null, m), function () { /* shown in the status line */ });
    });
  }

  function doReset() {
    var m = map();
    UI.confirm(t('profiles.resetAsk', m.label), t('profiles.resetGo')).then(function (yes) {
      if (!yes)
        return;
      UI.track(status(), Bridge.request('resetProfile', {srcFilePath: m.factory, desFilePath: m.path}),
        L('profiles.resetting'), null).then(function () {
        return KeyMap.writeAndReload(status(), L('profiles.resetDone', m.label));
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
      browse('saveFileDialog', $('pf-export-path'));
    });
    $('pf-import-browse').addEventListener('click', function () {
      browse('openFileDialog', $('pf-import-path'));
    });
    Bridge.on('fileDialogClosed', dialogClosed);
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

  return {dialogOpen: function () { return !!dialog; }};
})();
