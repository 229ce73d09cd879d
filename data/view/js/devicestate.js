// The connected devices as the program last listed them, and the one the user chose. Every
// screen that follows the devices watches this list; the devices screen fills it.
var DeviceState = (function () {
  'use strict';

  var list = [];
  var selected = null;
  var watchers = [];

  function name(d) {
    return d.productCN || d.productName || d.DeviceID || d.device || I18n.t('devices.unknown');
  }

  // Devices the device library reaches; the others are known USB devices it does not list.
  function reachable(d) {
    return !!(d.HardwareID && d.DevicePath);
  }

  function key(d) {
    return d.DevicePath || d.DeviceID || d.device || '';
  }

  function changed() {
    watchers.forEach(function (fn) { fn(list, selected); });
  }

  // Takes a "getDevicesList" answer; false (and the list unchanged) when it is not a list.
  // The chosen device stays chosen while it is listed.
  function take(text) {
    var parsed = UI.parseJson(text);
    if (!Array.isArray(parsed))
      return false;
    list = parsed.filter(function (d) { return d && typeof d === 'object'; });
    if (selected)
      selected = list.filter(function (d) { return key(d) === key(selected); })[0] || null;
    if (!selected)
      selected = list.filter(reachable)[0] || list[0] || null;
    changed();
    return true;
  }

  function select(d) {
    selected = d;
    changed();
  }

  return {
    take: take,
    select: select,
    list: function () { return list; },
    selected: function () { return selected; },
    reachable: reachable,
    name: name,
    key: key,
    watch: function (fn) { watchers.push(fn); }
  };
})();
