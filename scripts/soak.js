// Runs inside the page (through scripts/pagectl.js eval): keeps sending a mix of every answered
// request for `seconds`, a few at a time, and keeps its counts in window.soak, so the caller can
// sample them while it runs. Device requests go to whatever device getDevicesList names; they
// fail while the device is unplugged, which is part of the mix.
(function (seconds) {
  const soak = (window.soak = {sent: 0, answered: 0, failed: 0, running: true, errors: {}});
  const until = Date.now() + seconds * 1000;
  let device = null;
  const ask = (request) =>
    new Promise((resolve) => {
      soak.sent++;
      window.cefQuery({
        request: JSON.stringify(request),
        persistent: false,
        onSuccess: (answer) => { soak.answered++; resolve(answer); },
        onFailure: (code, text) => {
          soak.failed++;
          soak.errors[request.funcname] = text;
          resolve(null);
        },
      });
    });
  const dev = (extra) => Object.assign(
      {HardwareID: device ? device.HardwareID : '', DevicePath: device ? device.DevicePath : ''},
      extra);
  const hex = (n, seed) =>
    Array.from({length: n}, (_, i) => '0x' + ((seed + i * 7) & 0xff).toString(16).padStart(2, '0'))
        .join(',');
  let round = 0;
  const mix = [
    () => ask({funcname: 'getConf'}),
    () => ask({funcname: 'setConf', confKey: 'closeFunc', confValue: round % 2 ? 'hide' : 'closeapp'}),
    () => ask({funcname: 'getHotKey'}),
    () => ask({funcname: 'getDevicesList'}).then((list) => {
      try {
        const devices = JSON.parse(list || '[]');
        device = Array.isArray(devices) && devices.length ? devices[0] : device;
      } catch (e) { /* an answer that is no list keeps the last device */ }
    }),
    () => ask({funcname: 'queryProfile', filePath: 'Resources/profiles/conf.xml', xpath: '/root/client'}),
    () => ask({funcname: 'nodeCounterProfile', filePath: 'Resources/profiles/conf.xml', xpath: '/root'}),
    () => ask({funcname: 'modifyProfile', filePath: 'soak.xml', xpath: '//k', attribute: 'n', attributeValue: String(round)}),
    () => ask({funcname: 'modifyAddProfile', filePath: 'soak.xml', xpath: '/r/list', attribute: 'n', attributeValue: String(round), addNodeName: 'k'}),
    () => ask({funcname: 'modifyRemoveProfile', filePath: 'soak.xml', xpath: '/r/list/k[position() > 20]'}),
    () => ask({funcname: 'modifyProfileEx', filePath: 'soak.xml', xpath: '/r/ex', subTreeString: '<a n="' + round + '"><b/></a>'}),
    () => ask({funcname: 'modifyReplaceSubNode', srcFilePath: 'soak.xml', desFilePath: 'soak2.xml', srcXpath: '/r/ex', desXpath: '/r'}),
    () => ask({funcname: 'resetProfile', srcFilePath: 'soak.xml', desFilePath: 'soak2.xml'}),
    () => ask({funcname: 'queryHexByte', filePath: 'soak.xml', xpath: '//h', args: '0x11,0x22'}),
    () => ask({funcname: 'savexml'}),
    () => ask(dev({funcname: 'readDevicesProp', PARAMSIZE: '2', PARAMID: '2'})),
    () => ask(dev({funcname: 'writeDevicesProp', PARAMSIZE: '2', PARAMID: '3', PARAMDATA: hex(2, round)})),
    () => ask(dev({funcname: 'writeByAddr', PARAMADDRESS: '0x100', PARAMSIZE: '64', PARAMDATA: hex(64, round)})),
    () => ask(dev({funcname: 'readByAddr', PARAMADDRESS: '0x100', PARAMSIZE: '64'})),
    () => ask(dev({funcname: 'isPropEmpty', PARAMADDRESS: '0x800', PARAMSIZE: '16'})),
    () => ask(dev({funcname: 'cleanMacroByAddr', PARAMADDRESS: '0x800', PARAMSIZE: '16'})),
    () => ask({funcname: 'no such command'}),
  ];
  const worker = async () => {
    while (Date.now() < until) {
      round++;
      await mix[round % mix.length]();
    }
  };
  Promise.all([worker(), worker(), worker(), worker()]).then(() => { soak.running = false; });
  return 'started';
})
