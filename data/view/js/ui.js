// Small page helpers: elements, status lines that follow a request, failures in words,
// confirmation, key-combination fields.
var UI = (function () {
  'use strict';

  var PENDING_AFTER_MS = 1500;

  function $(id) { return document.getElementById(id); }

  // el('td', {className: 'x', textContent: t}, [children])
  function el(tag, props, children) {
    var node = document.createElement(tag);
    Object.keys(props || {}).forEach(function (k) {
      if (k === 'attrs') {
        Object.keys(props.attrs).forEach(function (a) { node.setAttribute(a, props.attrs[a]); });
      } else if (k === 'on') {
        Object.keys(props.on).forEach(function (ev) { node.addEventListener(ev, props.on[ev]); });
      } else {
        node[k] = props[k];
      }
    });
    (children || []).forEach(function (c) {
      if (c != null)
        node.appendChild(typeof c === 'string' ? document.createTextNode(c) : c);
    });
    return node;
  }

  // null when the text is not JSON.
  function parseJson(text) {
    try {
      return JSON.parse(text);
    } catch (e) {
      return null;
    }
  }

  // The program's failure texts, told to the user in words; the program's own text follows.
  var FAILURES = {
    'writeByAddr failed!': 'fail.deviceWrite',
    'writeDevicesProp failed!': 'fail.deviceWrite',
    'writeMacroByAddr failed!': 'fail.deviceWrite',
    'cleanMacroByAddr failed!': 'fail.deviceWrite',
    'writeByAddr failed PARAMSIZE not fit PARAMDATA!': 'fail.sizeMismatch',
    'queryProfile load xml file failed!': 'fail.xml',
    'nodeCounterProfile load xml file failed!': 'fail.xml',
    'modifyProfile load xml file failed!': 'fail.xml',
    'modifyProfileEx load xml file failed!': 'fail.xml',
    'modifyReplaceProfile load xml file failed!': 'fail.package',
    'attribute count isn\'t equal attributeValue count': 'fail.internal',
    'saveXmlAs load xml file failed!': 'fail.xml',
    'saveXmlAs desFilePath is failed!': 'fail.exportPath',
    'cant find conf.xml': 'fail.noConf',
    'can\'t find conf name': 'fail.noSetting',
    'can\'t find deviceInfo': 'fail.noDeviceInfo',
    'outPutDevice Not found!': 'fail.noOutput',
    'modifyMouseSpeed failed': 'fail.mouse',
    'modifyMouseScrollLines failed': 'fail.mouse',
    'calculate md5 falied!': 'fail.syncPack',
    'package file failed': 'fail.syncPack',
    'get api failed': 'fail.server',
    'unknow erro': 'fail.serverAnswer',
    'on_downloadSynfileFaild': 'fail.syncDownload',
    'url file is not captured': 'fail.urlNoFile',
    'downloadFaild': 'fail.download'
  };

  function failureText(e) {
    if (!e)
      return I18n.t('fail.unknown', '');
    if (e.code === -1)
      return I18n.t('fail.noProgram');
    if (e.code === -2)
      return I18n.t('common.cancelled');
    var message = e.message == null ? '' : String(e.message);
    var key = FAILURES[message];
    if (key)
      return I18n.t(key) + ' ' + I18n.t('fail.said', message);
    return I18n.t('fail.unknown', message);
  }

  function setStatus(node, text, kind) {
    node.textContent = text || '';
    node.className = node.className.replace(/\s*\b(error|pending|ok|busy)\b/g, '') +
      (kind ? ' ' + kind : '');
  }

  // Shows a request's progress in a status line: busy, then "still waiting" when the program
  // takes long or never answers, then the answer or the failure in words. Returns the request's
  // promise; `ok` turns the success text into the text shown (or returns nothing to keep the line).
  function track(node, promise, busyText, ok) {
    var settled = false;
    setStatus(node, busyText, 'busy');
    var timer = setTimeout(function () {
      if (!settled)
        setStatus(node, I18n.t('common.pending', busyText), 'pending');
    }, PENDING_AFTER_MS);
    promise.then(function (text) {
      settled = true;
      clearTimeout(timer);
      var shown = typeof ok === 'function' ? ok(text) : ok;
      if (shown != null)
        setStatus(node, shown, 'ok');
    }, function (e) {
      settled = true;
      clearTimeout(timer);
      setStatus(node, failureText(e), 'error');
    });
    return promise;
  }

  function error(node, text) {
    setStatus(node, text, 'error');
  }

  // Resolves true when the user agrees.
  function confirm(text, yesText) {
    var dialog = $('confirm-dialog');
    $('confirm-text').textContent = text;
    $('confirm-yes').textContent = yesText || I18n.t('common.ok');
    return new Promise(function (resolve) {
      function finish(answer) {
        $('confirm-yes').removeEventListener('click', yes);
        $('confirm-no').removeEventListener('click', no);
        dialog.removeEventListener('close', closed);
        if (dialog.open)
          dialog.close();
        resolve(answer);
      }
      function yes() { finish(true); }
      function no() { finish(false); }
      // The close event of an earlier question may arrive after this one is shown.
      function closed() {
        if (!dialog.open)
          finish(false);
      }
      $('confirm-yes').addEventListener('click', yes);
      $('confirm-no').addEventListener('click', no);
      dialog.addEventListener('close', closed);
      dialog.showModal();
      $('confirm-no').focus();
    });
  }

  // A read-only field that takes a key combination when focused and a key is pressed.
  // Escape leaves it, Backspace or Delete empties it; `onChange(sequence)` follows.
  function keyCapture(input, onChange) {
    input.addEventListener('keydown', function (e) {
      if (e.key === 'Tab' && !e.ctrlKey && !e.altKey && !e.metaKey)
        return;
      if (e.key === 'Escape') {
        input.blur();
        return;
      }
      e.preventDefault();
      if ((e.key === 'Backspace' || e.key === 'Delete') && !e.ctrlKey && !e.altKey && !e.shiftKey) {
        input.value = '';
        if (onChange)
          onChange('');
        return;
      }
      var seq = Keys.sequenceOf(e);
      if (!seq)
        return;
      input.value = seq;
      if (onChange)
        onChange(seq);
    });
  }

  function flash(text) {
    var node = $('sb-message');
    node.textContent = text;
    clearTimeout(flash.timer);
    flash.timer = setTimeout(function () { node.textContent = ''; }, 6000);
  }

  function time(d) {
    function two(n) { return (n < 10 ? '0' : '') + n; }
    return two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds());
  }

  return {
    $: $,
    el: el,
    parseJson: parseJson,
    track: track,
    error: error,
    setStatus: setStatus,
    failureText: failureText,
    confirm: confirm,
    keyCapture: keyCapture,
    flash: flash,
    time: time,
    PENDING_AFTER_MS: PENDING_AFTER_MS
  };
})();
