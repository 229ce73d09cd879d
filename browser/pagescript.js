// Runs in every page before the page's own scripts. Gives the page the router's functions:
//   cefQuery({request, onSuccess, onFailure}) -> query id
//   cefQueryCancel(id)
//   setMessageCallback(name, function)
// The native side is reached through the web channel object "cefRouter".
(function () {
  'use strict';
  // The engine's own error pages get nothing (the native side would not hear them either).
  if (window.cefQuery || typeof qt === 'undefined' || !qt.webChannelTransport ||
      location.protocol === 'chrome-error:')
    return;

  // The last three are the program's own additions: how a check for updates ended (the request
  // is never answered), that a file dialog went (a cancelled one is never answered), and that
  // the system's keyboards and mice cannot be reached (the answers say nothing of it).
  var EVENTS = ['devicesChanged', 'macroItem', 'currentPropChanged', 'navStateChanged',
                'onDeviceData', 'onBrowserMsg', 'onSwitchVirtualDevice', 'onUpdateCheck',
                'fileDialogClosed', 'inputDevicesMissing'];
  // Tells this script context apart from the ones before and after it in the same page.
  var context = Date.now().toString(36) + '-' + Math.random().toString(36).slice(2);
  var nextId = 1;
  var pending = Object.create(null);
  var callbacks = Object.create(null);
  var router = null;
  // Calls for the router, in order. They go once the channel is up, and then at the end of the
  // task that made them, so that queries asked together travel as one message.
  var outbox = [];
  var flushQueued = false;

  function send(call) {
    outbox.push(call);
    if (router && !flushQueued) {
      flushQueued = true;
      Promise.resolve().then(flush);
    }
  }

  function flush() {
    flushQueued = false;
    var calls = outbox;
    outbox = [];
    var batch = []; // id, request, id, request, ...
    function sendBatch() {
      if (batch.length === 2)
        router.query(context, batch[0], batch[1]);
      else if (batch.length)
        router.queryMany(context, batch);
      batch = [];
    }
    calls.forEach(function (call) {
      if (typeof call === 'function') {
        sendBatch();
        call(router);
      } else {
        batch.push(call.id, call.request);
      }
    });
    sendBatch();
  }

  function cefQuery(query) {
    if (!query || typeof query !== 'object' || typeof query.request !== 'string')
      throw new TypeError('cefQuery: expected {request: string, onSuccess, onFailure}');
    var id = nextId++;
    pending[id] = {
      onSuccess: typeof query.onSuccess === 'function' ? query.onSuccess : null,
      onFailure: typeof query.onFailure === 'function' ? query.onFailure : null
    };
    send({id: id, request: query.request});
    return id;
  }

  function cefQueryCancel(id) {
    if (!(id in pending))
      return;
    delete pending[id];
    send(function (r) { r.cancel(context, id); });
  }

  function setMessageCallback(name, fn) {
    if (arguments.length !== 2 || typeof name !== 'string' || typeof fn !== 'function')
      return;
    callbacks[name] = fn;
  }

  // The router answers only the context that attached last, which is this one.
  function answered(id, success, code, text) {
    if (!(id in pending))
      return;
    var q = pending[id];
    delete pending[id];
    if (success) {
      if (q.onSuccess)
        q.onSuccess(text);
    } else if (q.onFailure) {
      q.onFailure(code, text);
    }
  }

  function message(name, args) {
    if (EVENTS.indexOf(name) < 0 || !(name in callbacks))
      return;
    callbacks[name](Array.isArray(args) ? args : []);
  }

  function isEditable(el) {
    if (!el)
      return false;
    if (el.isContentEditable)
      return true;
    var tag = el.tagName;
    if (tag === 'TEXTAREA')
      return !el.readOnly && !el.disabled;
    if (tag === 'INPUT') {
      var type = (el.type || 'text').toLowerCase();
      var nonText = ['button', 'checkbox', 'color', 'file', 'hidden', 'image', 'radio', 'range',
                     'reset', 'submit'];
      return nonText.indexOf(type) < 0 && !el.readOnly && !el.disabled;
    }
    return false;
  }

  var lastEditable = null;
  function reportFocus() {
    var editable = isEditable(document.activeElement);
    if (editable === lastEditable)
      return;
    lastEditable = editable;
    send(function (r) { r.focusChanged(editable); });
  }

  Object.defineProperty(window, 'cefQuery', {value: cefQuery});
  Object.defineProperty(window, 'cefQueryCancel', {value: cefQueryCancel});
  Object.defineProperty(window, 'setMessageCallback', {value: setMessageCallback});

  document.addEventListener('focusin', reportFocus, true);
  document.addEventListener('focusout', function () { setTimeout(reportFocus, 0); }, true);

  new QWebChannel(qt.webChannelTransport, function (channel) {
    var r = channel.objects.cefRouter;
    r.answered.connect(answered);
    r.message.connect(message);
    r.attach(context);
    router = r;
    flush();
    reportFocus();
  });
})();
