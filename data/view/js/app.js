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

  function describe(entry) {
    if (entry.kind === 'event') {
      var key = 'event.' + entry.text;
      return I18n.has(key) ? t(key, entry.detail) : entry.text + ' ' + entry.detail;
    }
    if (entry.kind === 'failure')
      return t('log.failed', entry.text, UI.failureText({code: 0, message: entry.detail}));
    if (entry.kind === 'cancelled')
      return t('log.cancelled', entry.text);
    if (entry.kind === 'answer') {
      var d = entry.detail.length > 300 ? entry.detail.slice(0, 297) + '...' : entry.detail;
      return t('log.answered', entry.text, d);
    }
    return t('log.sent', entry.text, entry.detail);
  }

  function renderLog() {
    var showAll = $('log-requests').checked;
    var list = $('log-list');
    list.textContent = '';
    Bridge.log().reverse().forEach(function (entry) {
      if (!showAll && (entry.kind === 'request' || entry.kind === 'answer'))
        return;
      list.appendChild(el('li', {className: 'log-' + entry.kind}, [
        el('time', {textContent: UI.time(entry.time)}),
        el('span', {className: 'kind', textContent: t('log.kind.' + entry.kind)}),
        el('span', {className: 'text', textContent: describe(entry)})]));
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
        el('span', {textContent: g.ids.length > 1 ? t('log.waitingForMany', g.funcname, g.ids.length,
          UI.time(g.since)) : t('log.waitingFor', g.funcname, UI.time(g.since))}),
        el('button', {type: 'button', textContent: t('common.cancel'),
          attrs: {'aria-label': t('log.cancelOf', g.funcname)},
          on: {click: function () { g.ids.forEach(Bridge.cancel); }}})]));
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
    Bridge.on('onBrowserMsg', function (args) {
      UI.flash(t('event.onBrowserMsg', args.join(', ')));
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
