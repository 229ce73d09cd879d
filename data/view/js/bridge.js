// Requests to the program and the events it sends, with a record of both for the event log.
// Every request resolves with the success text or rejects with {code, message}; one that the
// program never answers stays pending and is listed as such until it is answered or cancelled.
var Bridge = (function () {
  'use strict';

  var EVENTS = ['devicesChanged', 'macroItem', 'currentPropChanged', 'navStateChanged',
    'onDeviceData', 'onBrowserMsg', 'onSwitchVirtualDevice', 'onUpdateCheck', 'fileDialogClosed',
    'inputDevicesMissing'];
  var LOG_LIMIT = 500;

  var pending = new Map(); // query id -> {funcname, since, reject}
  var log = [];
  var watchers = [];
  var handlers = Object.create(null);

  function changed() {
    watchers.forEach(function (fn) { fn(); });
  }

  // `args`: an event's arguments as the program sent them.
  function note(kind, text, detail, args) {
    log.push({time: new Date(), kind: kind, text: text, detail: detail || '', args: args || []});
    if (log.length > LOG_LIMIT)
      log.splice(0, log.length - LOG_LIMIT);
    changed();
  }

  function available() {
    return typeof window.cefQuery === 'function';
  }

  // Sends one request. A page outside the program (no cefQuery) gets a failure at once.
  function request(funcname, args) {
    var body = Object.assign({funcname: funcname}, args || {});
    var queryId = null;
    var promise = new Promise(function (resolve, reject) {
      if (!available()) {
        reject({code: -1, message: 'no program'});
        return;
      }
      var id = null;
      var done = function () {
        if (id !== null && pending.delete(id))
          changed();
      };
      id = window.cefQuery({
        request: JSON.stringify(body),
        onSuccess: function (text) {
          done();
          note('answer', funcname, text);
          resolve(text);
        },
        onFailure: function (code, message) {
          done();
          note('failure', funcname, message);
          reject({code: code, message: message});
        }
      });
      queryId = id;
      pending.set(id, {funcname: funcname, since: new Date(), reject: reject});
      note('request', funcname, describeArgs(args));
    });
    promise.id = queryId; // for cancel()
    return promise;
  }

  function describeArgs(args) {
    if (!args)
      return '';
    return Object.keys(args).map(function (k) {
      var v = String(args[k]);
      return k + '=' + (v.length > 80 ? v.slice(0, 77) + '...' : v);
    }).join(' ');
  }

  // Commands the program runs without ever answering (window commands, the update check):
  // sent, logged, never listed as pending.
  function send(funcname, args) {
    if (!available())
      return;
    var text = typeof funcname === 'string' && !args
      ? JSON.stringify({funcname: funcname}) : JSON.stringify(Object.assign({funcname: funcname}, args));
    window.cefQuery({request: text});
    note('request', funcname, describeArgs(args));
  }

  // "moveWindow" is a text of its own, not JSON.
  function sendText(text) {
    if (available())
      window.cefQuery({request: text});
  }

  // Gives up waiting for one pending request: the page stops listening for its answer. The
  // request's failure carries `why` (members added to {code: -2}).
  function cancel(id, why) {
    var p = pending.get(id);
    if (!p)
      return;
    pending.delete(id);
    window.cefQueryCancel(id);
    note('cancelled', p.funcname, '');
    p.reject(Object.assign({code: -2, message: 'cancelled'}, why || {}));
  }

  function pendingList() {
    var list = [];
    pending.forEach(function (p, id) {
      list.push({id: id, funcname: p.funcname, since: p.since});
    });
    return list;
  }

  // Events: any number of listeners per name (the program keeps one function per name).
  function on(name, fn) {
    (handlers[name] = handlers[name] || []).push(fn);
  }

  function listen() {
    if (typeof window.setMessageCallback !== 'function')
      return;
    EVENTS.forEach(function (name) {
      window.setMessageCallback(name, function (args) {
        if (name !== 'navStateChanged')
          note('event', name, (args || []).join(', '), args || []);
        (handlers[name] || []).forEach(function (fn) {
          try {
            fn(args || []);
          } catch (e) {
            note('failure', name, String(e && e.message || e));
          }
        });
        return true;
      });
    });
  }

  return {
    request: request,
    send: send,
    sendText: sendText,
    cancel: cancel,
    pendingList: pendingList,
    on: on,
    listen: listen,
    note: note,
    log: function () { return log.slice(); },
    clearLog: function () {
      log = [];
      changed();
    },
    watch: function (fn) { watchers.push(fn); },
    available: available
  };
})();
