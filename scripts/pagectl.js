#!/usr/bin/env node
// Drives the program's page from outside through the browser's debugging interface.
//   pagectl.js <port> wait [seconds]          waits until the page script is ready
//   pagectl.js <port> eval '<expression>'     evaluates in the page (promises are awaited)
//   pagectl.js <port> query '<request json>'  sends one request with cefQuery, prints the answer
// Needs node 20+ (run with --experimental-websocket on node 20/21).
'use strict';

const [port, command, arg] = process.argv.slice(2);
if (!port || !command) {
  console.error('usage: pagectl.js <port> wait|eval|query [argument]');
  process.exit(2);
}

async function pageSocketUrl() {
  const res = await fetch(`http://127.0.0.1:${port}/json`);
  const pages = (await res.json()).filter((p) => p.type === 'page');
  if (!pages.length)
    throw new Error('no page');
  return pages[0].webSocketDebuggerUrl;
}

function evaluate(url, expression) {
  return new Promise((resolve, reject) => {
    const ws = new WebSocket(url);
    ws.onopen = () => ws.send(JSON.stringify({
      id: 1, method: 'Runtime.evaluate',
      params: {expression, awaitPromise: true, returnByValue: true}
    }));
    ws.onmessage = (m) => {
      const msg = JSON.parse(m.data);
      if (msg.id !== 1)
        return;
      ws.close();
      if (msg.result && msg.result.exceptionDetails)
        reject(new Error(msg.result.exceptionDetails.exception
          ? msg.result.exceptionDetails.exception.description : 'exception'));
      else
        resolve(msg.result && msg.result.result ? msg.result.result.value : undefined);
    };
    ws.onerror = () => reject(new Error('cannot reach the page'));
  });
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

(async () => {
  if (command === 'wait') {
    const deadline = Date.now() + 1000 * Number(arg || 60);
    for (;;) {
      try {
        const ready = await evaluate(await pageSocketUrl(),
          "document.readyState === 'complete' && document.documentElement.dataset.ready === '1'");
        if (ready) {
          console.log('ready');
          return;
        }
      } catch (e) { /* not up yet */ }
      if (Date.now() > deadline)
        throw new Error('the page did not load in time');
      await sleep(250);
    }
  }
  if (command === 'eval') {
    const value = await evaluate(await pageSocketUrl(), arg);
    console.log(typeof value === 'string' ? value : JSON.stringify(value));
    return;
  }
  if (command === 'query') {
    const expr = `new Promise((resolve) => cefQuery({request: ${JSON.stringify(arg)},
        onSuccess: (t) => resolve('success: ' + t),
        onFailure: (c, t) => resolve('failure ' + c + ': ' + t)}))`;
    console.log(await evaluate(await pageSocketUrl(), expr));
    return;
  }
  throw new Error('unknown command ' + command);
})().catch((e) => { console.error('pagectl: ' + e.message); process.exit(1); });
