// The page's screens in the order of the navigation. Each screen's script registers itself once
// ({name, init, relabel}); the shell builds the navigation from this list, starts every screen
// and hands each the new language. A screen's markup is the section "screen-" + name, its
// navigation text "nav." + name.
var Screens = (function () {
  'use strict';

  var list = [];

  // `relabel` (optional) redraws what the screen wrote in the old language.
  function add(screen) {
    list.push(screen);
  }

  return {
    add: add,
    all: function () { return list.slice(); },
    names: function () { return list.map(function (s) { return s.name; }); }
  };
})();
