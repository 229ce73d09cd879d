// The page as a whole: title bar of the frameless window, screens, status bar, event log.
var App = (function () {
  'use strict';
  var $ = UI.$, el = UI.el, t = I18n.t;

  // ----- screens -----

  function show(name) {
    var names = Screens.names();
    if (names.indexOf(name) < 0)
      name = names[0];
    names.forEach(function (s) {
      var tab = $('tab-' + s);
      var on = s === name;
      tab.setAttribute('aria-selected', String(on));
      tab.tabIndex = on ? 0 : -1;
      $('screen-' + s).hidden = !on;
    });
    sessionStorage.setItem('tavix.screen', name);
  }

  function current() {
    return Screens.names().filter(function (s) { return !$('screen-' + s).hidden; })[0];
  }

  // One tab per registered screen.
  function initNav() {
    var tabs = Screens.names().map(function (s) {
      var tab = el('button', {type: 'button', id: 'tab-' + s, textContent: t('nav.' + s),
        attrs: {role: 'tab', 'data-screen': s, 'data-t': 'nav.' + s}});
      $('nav').appendChild(tab);
      return tab;
    });
    tabs.forEach(function (tab, i) {
      tab.addEventListener('click', function () { show(tab.dataset.screen); });
      tab.addEventListener('keydown', function (e) {
        var to = {ArrowDown: i + 1, ArrowUp: i - 1, Home: 0, End: tabs.length - 1}[e.key];
        if (to === undefined)
          return;
        e.preventDefault();
        var next = tabs[(to + tabs.length) % tabs.length];
        show(next.dataset.screen);
        next.focus();
      });
    });
    show(sessionStorage.getItem('tavix.screen'));
  }

  // ----- title bar of the frameless window -----

  var maximised = sessionStorage.getItem('tavix.max') === '1';

  function setMaximised(on) {
    maximised = on;
    sessionStorage.setItem('tavix.max', on ? '1' : '0');
    document.body.classList.toggle('maximised', on);
    var button = $('btn-max');
    button.textContent = on ? '\u2750' : '\u25a1';
    var label = t(on ? 'title.restore' : 'title.maximise');
    button.setAttribute('aria-label', label);
    button.title = label;
  }

  function toggleMaximised() {
    Bridge.send(maximised ? 'restoreWindow' : 'maxsizeWindow');
    setMaximised(!maximised);
  }

  // Moves the window while the left button is held on the title bar. The program moves it by
  // the distance the pointer went since the last request, keeping the size.
  function initDrag() {
    var bar = $('titlebar');
    var last = null, dx = 0, dy = 0, frame = 0;
    function flush() {
      frame = 0;
      if (!dx && !dy)
        return;
      Bridge.sendText('moveWindow:' + [dx, dy, window.innerWidth, window.innerHeight].join(','));
      dx = dy = 0;
    }
    bar.addEventListener('mousedown', function (e) {
      if (e.button !== 0 || e.target.closest('button') || maximised)
        return;
      last = {x: e.screenX, y: e.screenY};
      e.preventDefault();
    });
    window.addEventListener('mousemove', function (e) {
      if (!last)
        return;
      if (!(e.buttons & 1)) {
        last = null;
        return;
      }
      dx += e.screenX - last.x;
      dy += e.screenY - last.y;
      last = {x: e.screenX, y: e.screenY};
      if (!frame)
        frame = requestAnimationFrame(flush);
    });
    window.addEventListener('mouseup', function () {
      last = null;
    });
    bar.addEventListener('dblclick', function (e) {
      if (!e.target.closest('button'))
        toggleMaximised();
    });
    $('btn-min').addEventListener('click', function () { Bridge.send('minisizeWindow'); });
    $('btn-max').addEventListener('click', toggleMaximised);
    $('btn-close').addEventListener('click', function () {
      Bridge.request('closeApp').catch(function (e) { UI.flash(UI.failureText(e)); });
    });
    setMaximised(maximised);
  }

  // ----- status bar and event log -----

  function waiting() {
    var now = Date.now();
    return Bridge.pendingList().filter(function (p) {
      return now - p.since.getTime() >= UI.PENDING_AFTER_MS;
    });
  }

  function renderPending() {
    var list = waiting();
    var button = $('sb-pending');
    button.hidden = !list.length;
    button.textContent = t('status.pending', list.length);
    if ($('log-dialog').open)
      renderLog();
  }

  // A command of the program in words ("Reading the device's memory"); its name otherwise.
  function commandWords(funcname) {
    return I18n.has('cmd.' + funcname) ? t('cmd.' + funcname) : funcname;
  }

  // An event in words, from its arguments as the program sent them.
  function eventWords(entry) {
    var a = entry.args || [];
    switch (entry.text) {
    case 'macroItem':
      if (String(a[0]) === '2')
        return t('event.recordedPause', parseInt(a[1], 10) || 0);
      var key = Keys.byScan(parseInt(a[2], 10) || 0, String(a[3]) === '1' ? 1 : 0);
      return t(String(a[1]) === '1' ? 'event.recordedPress' : 'event.recordedRelease',
        key ? key.name : t('keymap.unknownKey', '0x' + (parseInt(a[2], 10) || 0).toString(16)));
    default:
      return I18n.has('event.' + entry.text) ? t('event.' + entry.text) : entry.text;
    }
  }

  // Each entry in words; the raw names and texts of the program only with "Show details".
  function describe(entry) {
    switch (entry.kind) {
    case 'notice':
      return {words: I18n.resolve(entry.text), raw: ''};
    case 'event':
      return {words: eventWords(entry), raw: entry.text + (entry.detail ? ' ' + entry.detail : '')};
    case 'failure':
      return {words: t('log.failed', commandWords(entry.text),
        I18n.resolve(UI.failureText({code: 0, message: entry.detail}))),
      raw: entry.text + ': ' + entry.detail};
    case 'cancelled':
      return {words: t('log.cancelled', commandWords(entry.text)), raw: entry.text};
    case 'answer':
      var d = entry.detail.length > 300 ? entry.detail.slice(0, 297) + '...' : entry.detail;
      return {words: t('log.answered', commandWords(entry.text)), raw: entry.text + ': ' + d};
    default:
      return {words: t('log.sent', commandWords(entry.text)),
        raw: entry.text + (entry.detail ? ' ' + entry.detail : '')};
    }
  }

  function renderLog() {
    var showAll = $('log-requests').checked;
    var details = $('log-details').checked;
    var list = $('log-list');
    list.textContent = '';
    Bridge.log().reverse().forEach(function (entry) {
      if (!showAll && (entry.kind === 'request' || entry.kind === 'answer'))
        return;
      // What the page learnt from an event says more than the event itself.
      if (!details && entry.kind === 'event' && entry.text === 'devicesChanged')
        return;
      var d = describe(entry);
      list.appendChild(el('li', {className: 'log-' + entry.kind}, [
        el('time', {textContent: UI.time(entry.time)}),
        el('span', {className: 'kind', textContent: t('log.kind.' + entry.kind)}),
        el('span', {className: 'text'}, [d.words,
          details ? el('span', {className: 'raw', textContent: d.raw}) : null])]));
    });
    if (!list.children.length)
      list.appendChild(el('li', {className: 'empty', textContent: t('log.empty')}));
    // Requests of one command wait together: one line, one button.
    var groups = [];
    waiting().forEach(function (p) {
      var g = groups.filter(function (x) { return x.funcname === p.funcname; })[0];
      if (!g)
        groups.push(g = {funcname: p.funcname, since: p.since, ids: []});
      g.ids.push(p.id);
    });
    $('log-pending-box').hidden = !groups.length;
    var ul = $('log-pending');
    ul.textContent = '';
    groups.forEach(function (g) {
      ul.appendChild(el('li', {}, [
        el('span', {textContent: g.ids.length > 1
          ? t('log.waitingForMany', commandWords(g.funcname), g.ids.length, UI.time(g.since))
          : t('log.waitingFor', commandWords(g.funcname), UI.time(g.since)),
        attrs: {'data-funcname': g.funcname}}),
        el('button', {type: 'button', textContent: t('common.cancel'),
          attrs: {'aria-label': t('log.cancelOf', commandWords(g.funcname))},
          on: {click: function () { g.ids.forEach(function (id) { Bridge.cancel(id); }); }}})]));
    });
  }

  function openLog() {
    renderLog();
    $('log-dialog').showModal();
    $('log-close').focus();
  }

  function initLog() {
    $('btn-log').addEventListener('click', openLog);
    $('sb-pending').addEventListener('click', openLog);
    $('log-close').addEventListener('click', function () { $('log-dialog').close(); });
    $('log-requests').addEventListener('change', renderLog);
    $('log-details').addEventListener('change', renderLog);
    $('log-clear').addEventListener('click', function () {
      Bridge.clearLog();
      renderLog();
    });
    Bridge.watch(renderPending);
    // Requests turn "pending" by age alone, without any event.
    setInterval(renderPending, 1000);
    document.addEventListener('keydown', function (e) {
      if (e.ctrlKey && !e.altKey && (e.key === 'l' || e.key === 'L')) {
        e.preventDefault();
        openLog();
      }
    });
  }

  function relabel() {
    I18n.apply(document);
    UI.relabel();
    setMaximised(maximised);
    Screens.all().forEach(function (s) {
      if (s.relabel)
        s.relabel();
    });
    renderPending();
  }

  function start() {
    Bridge.listen();
    // A device's settings page (its own window) talks to this page through the program.
    Bridge.on('onBrowserMsg', function () {
      UI.flash(I18n.later('event.onBrowserMsg'));
    });
    Settings.loadLanguage(Boot.language).then(function (lang) {
      try {
        I18n.setLanguage(lang);
        I18n.onChange(relabel);
        initNav();
        initDrag();
        initLog();
        Screens.all().forEach(function (s) { s.init(); });
        document.documentElement.dataset.ready = '1';
        document.title = 'tavix';
      } finally {
        // Shown even when a screen failed to start, so the rest stays usable.
        document.body.classList.remove('starting');
      }
    });
  }

  return {start: start, show: show, current: current, openLog: openLog};
})();

App.start();
