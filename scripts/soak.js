// Runs inside the page (through scripts/pagectl.js eval): keeps sending a mix of every answered
// request for `seconds`, a few at a time, and keeps its counts in window.soak, so the caller can
// sample them while it runs. Device requests go to whatever device getDevicesList names; they
// fail while the device is unplugged, which is part of the mix.
(function (seconds) {
  // byCommand: name -> [answered with success, with failure, not answered].
  const soak = (window.soak =
      {sent: 0, answered: 0, failed: 0, running: true, byCommand: {}, errors: {}});
  const count = (name, i) => {
    const c = soak.byCommand[name] || (soak.byCommand[name] = [0, 0, 0]);
    c[i]++;
  };
  const until = Date.now() + seconds * 1000;
  let device = null;
  // A request without an answer (by design, or lost) is given up after two seconds and noted;
  // a command that went unanswered three times and was never answered leaves the mix, so the
  // run keeps its pace (device commands without a device stay: they answer once it is back).
  const ask = (request) =>
    new Promise((resolve) => {
      soak.sent++;
      let done = false;
      const finish = (value) => {
        if (!done) { done = true; clearTimeout(timer); resolve(value); }
      };
      const timer = setTimeout(() => {
        count(request.funcname, 2);
        finish(null);
      }, 2000);
      window.cefQuery({
        request: JSON.stringify(request),
        persistent: false,
        onSuccess: (answer) => { soak.answered++; count(request.funcname, 0); finish(answer); },
        onFailure: (code, text) => {
          soak.failed++;
          count(request.funcname, 1);
          soak.errors[request.funcname] = text;
          finish(null);
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
  ];
  // The command a mix entry sends, read from its own text.
  const names = mix.map((send) => (/funcname: '([^']+)'/.exec(send.toString()) || [])[1]);
  const worker = async () => {
    while (Date.now() < until) {
      round++;
      const i = round % mix.length;
      const counts = soak.byCommand[names[i]];
      if (!counts || counts[0] + counts[1] > 0 || counts[2] < 3)
        await mix[i]();
    }
  };
  Promise.all([worker(), worker(), worker(), worker()]).then(() => { soak.running = false; });
  return 'started';
})
