// A stand-in for the browser's Web Serial API (navigator.serial) in browser
// tests. Headless Chromium lists real serial devices only and cannot reach a
// pseudo-terminal, so each port carries its bytes over a WebSocket to
// tests/web/bridge.py, which opens the simulated imager's line at the rate the
// page asked for.
//
// The harness evaluates this file on every new document before the page's own
// scripts, followed by a call with its settings:
//   (this file)({bridge: 'ws://127.0.0.1:N', ports: [{id, info}], granted: [id]})
// `ports` are the devices plugged in when the page loads, `granted` those the
// site was allowed to use on an earlier visit.
//
// The objects are the browser's own kinds (navigator.serial is a Serial, its
// ports SerialPorts, both real EventTargets) with our methods on their
// prototypes, and they behave as Chromium's do where a page could tell:
// requestPort needs a user gesture and honours its filters, open() checks its
// options, a lost device errors the streams with a NetworkError and fires
// "disconnect" at the port, bubbling to navigator.serial, close() refuses
// locked streams, and writes refuse views of shared memory (a wasm heap built
// with threads) as Chromium's bindings do. Modem lines are kept here only:
// a pseudo-terminal has none.
//
// The test drives the devices and the chooser through window.__serialStandin
// (not enumerable), with Selenium's execute_script:
//   plug(id, info)        a device arrives; info {usbVendorId, usbProductId},
//                         or {} for an RS-232 port. A new SerialPort each time,
//                         as after a real replug; a granted id stays granted
//                         (a USB device with a serial number)
//   unplug(id)            the device goes: streams error, "disconnect" fires
//   chooserPicks(...ids)  what the user picks in the next requestPort()
//                         choosers, one id each (null: cancels); a pick the
//                         chooser would not list (unplugged, filtered out)
//                         ends like a cancel, with a NotFoundError
//   requests()            every requestPort() so far: filters, pick, granted
//   state(id)             plugged, granted, open, options, signals, and the
//                         page's turnarounds (ms from bytes delivered to its
//                         next write)
(function (config) {
  'use strict';
  if (typeof Serial !== 'function' || typeof SerialPort !== 'function') {
    return;  // no Web Serial here (not a secure context): nothing to stand in for
  }

  const portStates = new WeakMap();
  const handlerStates = new WeakMap();
  const current = new Map();  // id -> the SerialPort of its latest plug-in
  const granted = new Set();  // ids, in the order they were granted
  const picks = [];
  const requests = [];
  let serial = null;

  // Chromium's limits for open()'s options.
  const kMaxBufferSize = 16 * 1024 * 1024;
  const kDefaultBufferSize = 255;

  const lost = () => new DOMException('The device has been lost.', 'NetworkError');
  const illegal = () => new TypeError('Illegal invocation');

  function stateOf(port) {
    const s = portStates.get(port);
    if (!s) {
      throw illegal();
    }
    return s;
  }

  function makeTarget(prototype) {
    // A real EventTarget: addEventListener and dispatchEvent stay native.
    const target = new EventTarget();
    Object.setPrototypeOf(target, prototype);
    handlerStates.set(target, {});
    return target;
  }

  // An onconnect/ondisconnect handler takes its place among the listeners
  // when it is first set and gives it up when set to null, as the event
  // handler attributes of the browser's own objects do.
  function handlerOf(target, type) {
    const handlers = handlerStates.get(target);
    if (!handlers) {
      throw illegal();
    }
    return handlers[type] ? handlers[type].handler : null;
  }

  function setHandler(target, type, handler) {
    const handlers = handlerStates.get(target);
    if (!handlers) {
      throw illegal();
    }
    const entry = handlers[type];
    if (typeof handler !== 'function') {
      if (entry) {
        target.removeEventListener(type, entry.listener);
        delete handlers[type];
      }
    } else if (entry) {
      entry.handler = handler;
    } else {
      const added = {handler};
      added.listener = (event) => added.handler.call(target, event);
      target.addEventListener(type, added.listener);
      handlers[type] = added;
    }
  }

  // Fired at the port and bubbling to navigator.serial with the port as its
  // target, as Chromium does. Two plain EventTargets have no event path
  // between them, so the bubbling half is a second event that reports the
  // port as its target.
  function fire(port, type) {
    const event = new Event(type, {bubbles: true});
    port.dispatchEvent(event);
    if (event.cancelBubble) {
      return;
    }
    const bubbled = new Event(type, {bubbles: true});
    let dispatching = true;
    Object.defineProperties(bubbled, {
      target: {get: () => port},
      srcElement: {get: () => port},
      eventPhase: {get: () => (dispatching ? Event.BUBBLING_PHASE : Event.NONE)},
    });
    serial.dispatchEvent(bubbled);
    dispatching = false;
  }

  function matches(filter, info) {
    if (filter.usbVendorId === undefined) {
      return false;  // a Bluetooth filter: no such port here
    }
    return info.usbVendorId === filter.usbVendorId &&
        (filter.usbProductId === undefined || info.usbProductId === filter.usbProductId);
  }

  function checkOptions(options) {
    if (options === undefined) {
      throw new TypeError(
          "Failed to execute 'open' on 'SerialPort': 1 argument required, but only 0 present.");
    }
    const o = Object.assign({}, options);
    if (o.baudRate === undefined) {
      throw new TypeError("Failed to read the 'baudRate' property from 'SerialOptions': " +
                          'Required member is undefined.');
    }
    const number = (v) => Number(v) >>> 0;
    const opened = {
      baudRate: number(o.baudRate),
      dataBits: o.dataBits === undefined ? 8 : number(o.dataBits),
      stopBits: o.stopBits === undefined ? 1 : number(o.stopBits),
      parity: o.parity === undefined ? 'none' : String(o.parity),
      bufferSize: o.bufferSize === undefined ? kDefaultBufferSize : number(o.bufferSize),
      flowControl: o.flowControl === undefined ? 'none' : String(o.flowControl),
    };
    const refuse = (what) => {
      throw new TypeError(`Failed to execute 'open' on 'SerialPort': ${what}`);
    };
    if (opened.baudRate === 0) refuse('Requested baud rate must be greater than zero.');
    if (![7, 8].includes(opened.dataBits)) refuse('Requested number of data bits must be 7 or 8.');
    if (![1, 2].includes(opened.stopBits)) refuse('Requested number of stop bits must be 1 or 2.');
    if (opened.bufferSize === 0) refuse('Requested buffer size must be greater than zero.');
    if (opened.bufferSize > kMaxBufferSize) {
      refuse(`Requested buffer size (${opened.bufferSize} bytes) is greater than the maximum ` +
             `allowed (${kMaxBufferSize} bytes).`);
    }
    if (!['none', 'even', 'odd'].includes(opened.parity)) {
      refuse(`The provided value '${opened.parity}' is not a valid enum value of type ParityType.`);
    }
    if (!['none', 'hardware'].includes(opened.flowControl)) {
      refuse(`The provided value '${opened.flowControl}' is not a valid enum value of type ` +
             'FlowControlType.');
    }
    return opened;
  }

  // The bridge's first answer says whether the line could be opened.
  function connectLine(s, options) {
    return new Promise((resolve, reject) => {
      const ws = new WebSocket(config.bridge);
      ws.binaryType = 'arraybuffer';
      ws.onopen = () => ws.send(JSON.stringify(Object.assign({imager: s.id}, options)));
      ws.onerror = () => {};
      ws.onclose = () => reject(new Error('the bridge closed the line'));
      ws.onmessage = (message) => {
        let answer = {};
        try {
          answer = JSON.parse(message.data);
        } catch (error) {
          answer = {error: 'not JSON'};
        }
        if (!answer.opened) {
          ws.onclose = null;
          ws.close();
          reject(new Error(answer.error));
          return;
        }
        resolve(ws);
      };
    });
  }

  function deliver(s, data) {
    s.lastDelivered = performance.now();
    const bytes = new Uint8Array(data);
    for (let at = 0; at < bytes.length; at += s.options.bufferSize) {
      const chunk = bytes.slice(at, at + s.options.bufferSize);
      if (s.readController) {
        s.readController.enqueue(chunk);
      } else {
        s.pending.push(chunk);
      }
    }
  }

  function makeReadable(s) {
    let controller = null;
    const stream = new ReadableStream({
      type: 'bytes',
      start(c) {
        controller = c;
        s.readController = c;
        for (const chunk of s.pending.splice(0)) {
          c.enqueue(chunk);
        }
      },
      cancel() {
        // What came in and was not read is dropped, as Chromium flushes the
        // receive buffer; the next access to readable makes a new stream.
        if (s.readController === controller) {
          s.readController = null;
          s.readable = null;
          s.pending = [];
        }
      },
    });
    return stream;
  }

  function toBytes(chunk) {
    const refuse = (what) => new TypeError(
        `Failed to execute 'write' on 'UnderlyingSinkBase': ${what}`);
    if (chunk instanceof ArrayBuffer) {
      return new Uint8Array(chunk.slice(0));
    }
    if (ArrayBuffer.isView(chunk)) {
      if (typeof SharedArrayBuffer === 'function' && chunk.buffer instanceof SharedArrayBuffer) {
        throw refuse('The provided ArrayBufferView value must not be shared.');
      }
      return new Uint8Array(chunk.buffer, chunk.byteOffset, chunk.byteLength).slice();
    }
    throw refuse("The provided value is not of type '(ArrayBuffer or ArrayBufferView)'.");
  }

  function makeWritable(s) {
    let controller = null;
    const detach = () => {
      if (s.writeController === controller) {
        s.writeController = null;
        s.writable = null;
      }
    };
    return new WritableStream({
      start(c) {
        controller = c;
        s.writeController = c;
      },
      write(chunk) {
        const bytes = toBytes(chunk);
        if (s.fatal || !s.ws) {
          throw lost();
        }
        // The page's own time to answer what came in: from the bytes handed
        // to its stream to its next write.
        if (s.lastDelivered !== undefined) {
          (s.turnarounds ||= []).push(performance.now() - s.lastDelivered);
          s.lastDelivered = undefined;
        }
        s.ws.send(bytes);
      },
      close: detach,
      abort: detach,
    });
  }

  function hangUp(s) {
    const ws = s.ws;
    s.ws = null;
    if (!ws || ws.readyState === WebSocket.CLOSED) {
      return Promise.resolve();
    }
    // Resolved once the socket has closed; the bridge lets the line go
    // before it takes the next open of the same imager.
    return new Promise((resolve) => {
      ws.onclose = () => resolve();
      ws.close(1000);
    });
  }

  function deviceLost(port) {
    const s = stateOf(port);
    if (!s.connected) {
      return;
    }
    s.connected = false;
    if (s.open) {
      s.fatal = true;
      if (s.readController) {
        s.readController.error(lost());
      }
      if (s.writeController) {
        s.writeController.error(lost());
      }
      s.readController = s.writeController = null;
      s.readable = s.writable = null;
      s.pending = [];
      hangUp(s);
    }
    if (granted.has(s.id)) {
      fire(port, 'disconnect');
    }
  }

  function closedState(s) {
    Object.assign(s, {open: false, fatal: false, options: null, ws: null, pending: [],
                      readable: null, writable: null, readController: null,
                      writeController: null});
  }

  // Navigator.serial and every port have both.
  const handlerMembers = {
    get onconnect() {
      return handlerOf(this, 'connect');
    },
    set onconnect(handler) {
      setHandler(this, 'connect', handler);
    },
    get ondisconnect() {
      return handlerOf(this, 'disconnect');
    },
    set ondisconnect(handler) {
      setHandler(this, 'disconnect', handler);
    },
  };

  const serialMembers = {
    async requestPort(options = {}) {
      if (this !== serial) {
        throw illegal();
      }
      if (!navigator.userActivation.isActive) {
        throw new DOMException("Failed to execute 'requestPort' on 'Serial': Must be handling " +
                               'a user gesture to show a permission request.', 'SecurityError');
      }
      const filters = Array.from((options && options.filters) || [], (f) => Object.assign({}, f));
      for (const f of filters) {
        if (f.usbVendorId === undefined && f.bluetoothServiceClassId === undefined) {
          throw new TypeError("Failed to execute 'requestPort' on 'Serial': " +
                              'A filter must provide a property to filter by.');
        }
        if (f.usbProductId !== undefined && f.usbVendorId === undefined) {
          throw new TypeError("Failed to execute 'requestPort' on 'Serial': A filter containing " +
                              'a usbProductId must also name a usbVendorId.');
        }
      }
      const pick = picks.length > 0 ? picks.shift() : null;
      const port = pick === null ? undefined : current.get(pick);
      const listed = port !== undefined && stateOf(port).connected &&
          (filters.length === 0 || filters.some((f) => matches(f, stateOf(port).info)));
      requests.push({filters, picked: pick, granted: listed});
      if (!listed) {
        throw new DOMException("Failed to execute 'requestPort' on 'Serial': " +
                               'No port selected by the user.', 'NotFoundError');
      }
      granted.add(pick);
      return port;
    },
    async getPorts() {
      if (this !== serial) {
        throw illegal();
      }
      return [...granted].map((id) => current.get(id))
          .filter((port) => port !== undefined && stateOf(port).connected);
    },
  };

  const portMembers = {
    getInfo() {
      const info = stateOf(this).info;
      return info.usbVendorId === undefined ?
          {} :
          {usbVendorId: info.usbVendorId, usbProductId: info.usbProductId};
    },
    async open(options) {
      const s = stateOf(this);
      const opened = checkOptions(options);
      if (s.open || s.opening) {
        throw new DOMException("Failed to execute 'open' on 'SerialPort': " +
                               'The port is already open.', 'InvalidStateError');
      }
      if (s.forgotten) {
        throw new DOMException("Failed to execute 'open' on 'SerialPort': " +
                               'The port has been forgotten.', 'InvalidStateError');
      }
      const failed = () => new DOMException("Failed to execute 'open' on 'SerialPort': " +
                                            'Failed to open serial port.', 'NetworkError');
      if (!s.connected) {
        throw failed();
      }
      s.opening = true;
      let ws = null;
      try {
        ws = await connectLine(s, opened);
      } catch (error) {
        throw failed();
      } finally {
        s.opening = false;
      }
      if (!s.connected) {  // unplugged while the line was being opened
        ws.onclose = null;
        ws.close(1000);
        throw failed();
      }
      closedState(s);
      Object.assign(s, {open: true, options: opened, ws});
      s.opens.push(opened);
      ws.onmessage = (message) => {
        if (s.ws === ws && typeof message.data !== 'string') {
          deliver(s, message.data);
        }
      };
      // Closed by the bridge: the imager hung up its line, as a device that
      // drops off the bus.
      ws.onclose = () => {
        if (s.ws === ws) {
          deviceLost(this);
        }
      };
    },
    get readable() {
      const s = stateOf(this);
      if (!s.open || s.closing || s.fatal) {
        return null;
      }
      if (!s.readable) {
        s.readable = makeReadable(s);
      }
      return s.readable;
    },
    get writable() {
      const s = stateOf(this);
      if (!s.open || s.closing || s.fatal) {
        return null;
      }
      if (!s.writable) {
        s.writable = makeWritable(s);
      }
      return s.writable;
    },
    get connected() {
      return stateOf(this).connected;
    },
    async setSignals(signals = {}) {
      const s = stateOf(this);
      if (!s.open || s.fatal) {
        throw new DOMException("Failed to execute 'setSignals' on 'SerialPort': " +
                               'The port is closed.', 'InvalidStateError');
      }
      const given = {};
      for (const name of ['dataTerminalReady', 'requestToSend', 'break']) {
        if (signals[name] !== undefined) {
          given[name] = Boolean(signals[name]);
        }
      }
      if (Object.keys(given).length === 0) {
        throw new TypeError("Failed to execute 'setSignals' on 'SerialPort': " +
                            'Signals dictionary is empty.');
      }
      Object.assign(s.signals, given);
    },
    async getSignals() {
      const s = stateOf(this);
      if (!s.open || s.fatal) {
        throw new DOMException("Failed to execute 'getSignals' on 'SerialPort': " +
                               'The port is closed.', 'InvalidStateError');
      }
      return {dataCarrierDetect: false, clearToSend: false, ringIndicator: false,
              dataSetReady: false};
    },
    async close() {
      const s = stateOf(this);
      const refuse = (what) => new TypeError(`Failed to execute 'close' on 'SerialPort': ${what}`);
      if (!s.open || s.closing) {
        throw new DOMException("Failed to execute 'close' on 'SerialPort': " +
                               'The port is already closed.', 'InvalidStateError');
      }
      if (s.readable && s.readable.locked) {
        throw refuse('Cannot cancel a locked stream');
      }
      if (s.writable && s.writable.locked) {
        throw refuse('Cannot abort a locked stream');
      }
      s.closing = true;
      try {
        if (s.readable) {
          await s.readable.cancel();
        }
        if (s.writable) {
          await s.writable.abort();
        }
        await hangUp(s);
      } finally {
        s.closing = false;
        closedState(s);
      }
    },
    async forget() {
      const s = stateOf(this);
      if (s.open) {
        for (const controller of [s.readController, s.writeController]) {
          if (controller) {
            controller.error(new DOMException('The port has been forgotten.',
                                              'InvalidStateError'));
          }
        }
        await hangUp(s);
        closedState(s);
      }
      s.forgotten = true;
      granted.delete(s.id);
      // The device stays plugged in; a later chooser grants it afresh as
      // a port object of its own.
      if (s.connected && current.get(s.id) === this) {
        s.connected = false;
        addPort(s.id, s.info);
      }
    },
  };

  // Our members where the browser's are, with the same shape of property.
  function install(prototype, members) {
    for (const [name, d] of Object.entries(Object.getOwnPropertyDescriptors(members))) {
      Object.defineProperty(prototype, name, Object.assign(d, {enumerable: true}));
    }
  }
  install(Serial.prototype, serialMembers);
  install(Serial.prototype, handlerMembers);
  install(SerialPort.prototype, portMembers);
  install(SerialPort.prototype, handlerMembers);

  serial = makeTarget(Serial.prototype);
  Object.defineProperty(Navigator.prototype, 'serial', {
    get: Object.getOwnPropertyDescriptor({
      get serial() {
        if (!(this instanceof Navigator)) {
          throw illegal();
        }
        return serial;
      },
    }, 'serial').get,
    enumerable: true,
    configurable: true,
  });

  function plug(id, info = {}) {
    const before = current.get(id);
    if (before !== undefined && stateOf(before).connected) {
      throw new Error(`${id} is plugged in already`);
    }
    const port = addPort(id, info);
    if (granted.has(id)) {
      fire(port, 'connect');
    }
  }

  function addPort(id, info) {
    const port = makeTarget(SerialPort.prototype);
    const s = {id, info: Object.assign({}, info), connected: true, forgotten: false,
               opening: false, closing: false, opens: [], signals: {}};
    closedState(s);
    portStates.set(port, s);
    current.set(id, port);
    return port;
  }

  for (const {id, info} of config.ports || []) {
    plug(id, info);
  }
  for (const id of config.granted || []) {
    granted.add(id);
  }

  Object.defineProperty(window, '__serialStandin', {
    value: Object.freeze({
      plug,
      unplug(id) {
        const port = current.get(id);
        if (port !== undefined) {
          deviceLost(port);
        }
      },
      chooserPicks(...ids) {
        picks.push(...ids);
      },
      requests: () => JSON.parse(JSON.stringify(requests)),
      state(id) {
        const port = current.get(id);
        if (port === undefined) {
          return null;
        }
        const s = stateOf(port);
        return {plugged: s.connected, granted: granted.has(id), open: s.open,
                options: s.options, opens: s.opens, signals: Object.assign({}, s.signals),
                turnarounds: (s.turnarounds || []).slice()};
      },
    }),
    enumerable: false,
  });
})
