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

  // The program's failure texts, told to the user in words; the program's own text is kept for
  // the details.
  var FAILURES = {
    'writeByAddr failed!': 'fail.deviceWrite',
    'writeDevicesProp failed!': 'fail.deviceWrite',
    'writeMacroByAddr failed!': 'fail.deviceWrite',
    'cleanMacroByAddr failed!': 'fail.deviceWrite',
    'readByAddr failed!': 'fail.deviceRead',
    'readDevicesProp failed!': 'fail.deviceRead',
    'isPropEmpty failed!': 'fail.deviceRead',
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

  // A failure in words, read in the language shown at the time.
  function failureText(e) {
    if (e && e.code === -1)
      return I18n.later('fail.noProgram');
    if (e && e.code === -2)
      return I18n.later('common.cancelled');
    var key = e && FAILURES[String(e.message)];
    return I18n.later(key || 'fail.unknown');
  }

  // The program's own text of a failure, for the details; '' for the page's own failures.
  function failureDetail(e) {
    return e && e.code !== -1 && e.code !== -2 && e.message != null ? String(e.message) : '';
  }

  // A status line shows one text (a string, or a text read at each showing, see I18n.later)
  // and, on demand, the program's own words behind it. It is shown again in a new language.
  function setStatus(node, text, kind, detail) {
    node._status = {text: text || '', kind: kind || '', detail: detail || ''};
    node.classList.remove('details-open');
    renderStatus(node);
  }

  function renderStatus(node) {
    var s = node._status;
    if (!s)
      return;
    node.textContent = '';
    node.className = node.className.replace(/\s*\b(error|pending|ok|busy)\b/g, '') +
      (s.kind ? ' ' + s.kind : '');
    var text = I18n.resolve(s.text);
    node.classList.toggle('has-text', !!text);
    node.appendChild(el('span', {className: 'status-text', textContent: text}));
    if (!s.detail)
      return;
    var open = node.classList.contains('details-open');
    var raw = el('code', {className: 'status-detail', textContent: s.detail, hidden: !open});
    node.appendChild(el('button', {type: 'button', className: 'details-toggle',
      textContent: I18n.t(open ? 'common.hideDetails' : 'common.details'),
      attrs: {'aria-expanded': String(open)},
      on: {click: function () {
        node.classList.toggle('details-open');
        renderStatus(node);
        node.querySelector('.details-toggle').focus();
      }}}));
    node.appendChild(raw);
  }

  // Every status line in the language now chosen.
  function relabel() {
    Array.prototype.forEach.call(document.querySelectorAll('.status'), renderStatus);
  }

  // The text a status line shows now.
  function statusText(node) {
    return node._status ? I18n.resolve(node._status.text) : '';
  }

  // Shows a request's progress in a status line: busy, then "still waiting" when the program
  // takes long or never answers, then the answer or the failure in words. Returns the request's
  // promise; `ok` turns the success text into the text shown (or returns nothing to keep the line).
  function track(node, promise, busyText, ok) {
    var settled = false;
    setStatus(node, busyText, 'busy');
    var timer = setTimeout(function () {
      if (!settled)
        setStatus(node, I18n.later('common.pending', busyText), 'pending');
    }, PENDING_AFTER_MS);
    promise.then(function (text) {
      settled = true;
      clearTimeout(timer);
      var shown = typeof ok === 'function' && !ok.later ? ok(text) : ok;
      if (shown != null)
        setStatus(node, shown, 'ok');
    }, function (e) {
      settled = true;
      clearTimeout(timer);
      fail(node, e);
    });
    return promise;
  }

  function fail(node, e) {
    setStatus(node, failureText(e), 'error', failureDetail(e));
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

  // The X server keeps Ctrl+Alt with F1 to F12 for switching to the text consoles: a hotkey
  // there is accepted and never fires.
  function reservedBySystem(sequence) {
    return /X11|Linux/.test(navigator.userAgent) &&
      /^Ctrl\+Alt\+F([1-9]|1[0-2])$/.test(String(sequence));
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

  // Whether a file of the program's folders is there (`path` as the program names its files,
  // "view/device/..."): asked before reading a file the program would never answer for.
  function fileExists(path) {
    return Bridge.request('fileExists', {relativePath: path}).then(function (answer) {
      return answer === '1';
    }, function () {
      return false;
    });
  }

  function flash(text) {
    var node = $('sb-message');
    flash.text = text;
    node.textContent = I18n.resolve(text);
    clearTimeout(flash.timer);
    flash.timer = setTimeout(function () {
      flash.text = '';
      node.textContent = '';
    }, 6000);
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
    fail: fail,
    error: error,
    setStatus: setStatus,
    statusText: statusText,
    relabel: function () {
      relabel();
      if (flash.text)
        $('sb-message').textContent = I18n.resolve(flash.text);
    },
    failureText: failureText,
    failureDetail: failureDetail,
    confirm: confirm,
    reservedBySystem: reservedBySystem,
    keyCapture: keyCapture,
    fileExists: fileExists,
    flash: flash,
    time: time,
    PENDING_AFTER_MS: PENDING_AFTER_MS
  };
})();
