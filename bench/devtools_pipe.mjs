// The DevTools protocol over Chromium's --remote-debugging-pipe: fd 3 of the browser carries
// commands to it, fd 4 its answers and events, each message JSON ended by a NUL byte. No
// dependencies beyond Node itself; used by the benchmarks and by the fixture recorders.
export class Devtools {
  constructor(toBrowser, fromBrowser) {
    this.toBrowser = toBrowser;
    this.nextId = 1;
    this.pending = new Map();
    this.handlers = new Map();
    let buffered = Buffer.alloc(0);
    fromBrowser.on('data', (chunk) => {
      buffered = Buffer.concat([buffered, chunk]);
      for (let end; (end = buffered.indexOf(0)) >= 0;) {
        const message = JSON.parse(buffered.toString('utf8', 0, end));
        buffered = buffered.subarray(end + 1);
        this.dispatch(message);
      }
    });
  }

  dispatch(message) {
    if (message.id !== undefined) {
      const waiter = this.pending.get(message.id);
      this.pending.delete(message.id);
      if (!waiter) return;
      if (message.error) waiter.reject(new Error(`${waiter.method}: ${message.error.message}`));
      else waiter.resolve(message.result);
      return;
    }
    const handler = this.handlers.get(message.method);
    if (handler) handler(message.params, message.sessionId);
  }

  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    this.toBrowser.write(JSON.stringify(message) + '\0');
    return new Promise((resolve, reject) => this.pending.set(id, { resolve, reject, method }));
  }

  on(method, handler) {
    this.handlers.set(method, handler);
  }
}
