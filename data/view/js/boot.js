// The two requests every start makes, sent from the document's head while the rest of the page
// still loads: the language its texts need and the device list the first screen shows. The
// answers are waiting by the time the screens are built.
var Boot = (function () {
  'use strict';
  var language = Bridge.request('queryProfile', {filePath: 'view/xml/page.xml', xpath: '/page'});
  var devices = Bridge.request('getDevicesList');
  // Their failures are shown where they are used; none goes unhandled meanwhile.
  language.catch(function () {});
  devices.catch(function () {});
  return {language: language, devices: devices};
})();
