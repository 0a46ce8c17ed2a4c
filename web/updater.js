// The page's side of the updater: its controls, and the browser's serial
// ports, which only this thread may touch. The protocol, the RS-232 scan,
// the image checks and the texts are the core's (qor-core.js); the core's
// update threads ask for port work through Module.page and are answered
// through the qor_page_* exports.
'use strict';

const IMAGER_FILTER = { usbVendorId: 0x3c7b, usbProductId: 0x0e52 };
const MAX_DEVICES = 6;
const INSTALL_LINK = 'install.html';

// The page's own words, beside the core's catalogue.
const PAGE_TEXTS = {
  en: {
    title: 'Qor imager updater',
    connection: 'Connection',
    grantUsb: 'Choose imagers',
    grantRs232: 'Choose serial port',
    image: 'Firmware image',
    barcode: 'The update barcode: scan it with the imager',
    noPort: 'No serial port chosen.',
    noImage: 'Choose a firmware image first.',
    privacy: 'The image is read in this page and sent only to your imagers; it is never uploaded.',
    unsupported: 'This browser cannot reach serial ports. Use Chrome or Edge, or install the updater program: ',
    notIsolated: 'This page was served without the cross-origin isolation headers the updater needs. Serve it with serve.py, or see the hosting notes.',
    installLink: 'installable programs',
    device: 'Imager',
  },
  zh: {
    title: 'Qor 扫描器固件更新',
    connection: '连线方式',
    grantUsb: '选择扫描器',
    grantRs232: '选择串口',
    image: '固件档案',
    barcode: '更新条码：请用扫描器扫描',
    noPort: '尚未选择串口。',
    noImage: '请先选择固件档案。',
    privacy: '固件只在本页读取，只送往您的扫描器，不会上传。',
    unsupported: '此浏览器无法使用串口。请改用 Chrome 或 Edge，或安装更新程序：',
    notIsolated: '本页的服务器未送出更新程序所需的跨源隔离标头。请用 serve.py 提供本页，或参阅架设说明。',
    installLink: '安装程序',
    device: '扫描器',
  },
};

// What the core tells, in the order of its WebEvent.
const EVENTS = ['WorkerStarted', 'Connecting', 'TransferStarted', 'BlockSent', 'Checking',
  'Updating', 'UpdateWaitMissed', 'UpdateEnded', 'Succeeded', 'Failed', 'PortReleased',
  'RunClosing', 'ModeEntered', 'RunClosed', 'Connected'];

const $ = (id) => document.getElementById(id);

function browserLanguages() {
  return (navigator.languages && navigator.languages.length
    ? navigator.languages : [navigator.language || 'en']).join(':');
}

// One granted port: its streams, and a chain that does the core's requests
// for it one after the other, as the core expects them settled.
class PagePort {
  constructor(port) {
    this.port = port;
    this.chain = Promise.resolve();
    this.reader = null;
    this.reading = null;
    this.open = false;
    this.present = true;  // plugged in, as the connect and disconnect events tell
  }
  isImager() {
    const info = this.port.getInfo();
    return info.usbVendorId === IMAGER_FILTER.usbVendorId &&
      info.usbProductId === IMAGER_FILTER.usbProductId;
  }
  then(work) {
    this.chain = this.chain.then(work, work);
  }
}

class Updater {
  constructor(core) {
    this.core = core;
    this.page = core.create(browserLanguages());
    this.chinese = core._qor_page_language(this.page) === 2052;
    this.words = this.chinese ? PAGE_TEXTS.zh : PAGE_TEXTS.en;
    this.situations = JSON.parse(core.UTF8ToString(core._qor_page_situations()));
    this.ports = [];       // every port the page was granted; the index is its number
    this.rs232 = null;     // the RS-232 port chosen
    this.image = null;     // the checked image's bytes
    this.connected = false;
    this.running = false;
    this.startAfterChoice = false;
    this.rows = [];
    this.failures = [];
    core.page = {
      open: (n, op, baud) => this.open(n, op, baud),
      write: (n, op, bytes) => this.write(n, op, bytes),
      close: (n, op) => this.close(n, op),
      event: (event, device, a, b, text) => this.event(EVENTS[event], device, a, b, text),
    };
  }

  text(name, first, second, portName) {
    // The window's texts break lines with carriage returns.
    return this.core.text(this.page, this.situations[name], first, second, portName)
      .replace(/\r\n?/g, '\n');
  }

  async start() {
    document.documentElement.lang = this.chinese ? 'zh-CN' : 'en';
    document.title = this.words.title;
    $('title').textContent = this.words.title;
    $('mode-legend').textContent = this.words.connection;
    $('image-label').textContent = this.words.image;
    $('barcode').alt = this.words.barcode;
    $('privacy').textContent = this.words.privacy;
    $('step1').textContent = this.text('Step1Instructions');
    $('step2').textContent = this.text('Step2Instructions');
    $('updater').hidden = false;

    for (const port of await navigator.serial.getPorts()) {
      this.known(port);
    }
    navigator.serial.addEventListener('connect', (e) => this.plugged(e.target, true));
    navigator.serial.addEventListener('disconnect', (e) => this.plugged(e.target, false));
    for (const radio of document.querySelectorAll('input[name=mode]')) {
      radio.addEventListener('change', () => this.enterMode());
    }
    $('grant').addEventListener('click', () => this.grant());
    $('main').addEventListener('click', () => this.mainClicked());
    $('image').addEventListener('change', () => this.chooseImage($('image').files[0]));
    document.addEventListener('dragover', (e) => {
      e.preventDefault();
      document.body.classList.add('dragging');
    });
    document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
    document.addEventListener('drop', (e) => {
      e.preventDefault();
      document.body.classList.remove('dragging');
      if (e.dataTransfer.files.length) this.chooseImage(e.dataTransfer.files[0]);
    });
    this.enterMode();
  }

  usbMode() {
    return document.querySelector('input[name=mode]:checked').value === 'usb';
  }

  known(port) {
    let known = this.ports.find((p) => p.port === port);
    if (!known) {
      known = new PagePort(port);
      this.ports.push(known);
    }
    return known;
  }

  plugged(port, present) {
    const known = present ? this.known(port) : this.ports.find((p) => p.port === port);
    if (known) known.present = present;
    this.showCount();
  }

  imagers() {
    return this.ports.filter((p) => p.isImager() && p.present);
  }

  showCount() {
    if (!this.usbMode()) {
      $('count').textContent = this.rs232 ? '' : this.words.noPort;
      return;
    }
    const count = this.imagers().length;
    $('count').textContent = count === 0 ? this.text('NoDeviceConnected')
      : this.text(count === 1 ? 'OneDeviceConnected' : 'DevicesConnected', count);
  }

  enterMode() {
    const usb = this.usbMode();
    this.connected = false;
    $('grant').textContent = usb ? this.words.grantUsb : this.words.grantRs232;
    $('main').textContent = this.text(usb ? 'BrowseCaption' : 'ConnectCaption');
    this.showCount();
  }

  async grant() {
    try {
      const port = await navigator.serial.requestPort(
        this.usbMode() ? { filters: [IMAGER_FILTER] } : {});
      const known = this.known(port);
      known.present = true;  // the chooser offers only what is plugged in
      if (!this.usbMode()) {
        this.rs232 = known;
        this.connected = false;
        $('main').textContent = this.text('ConnectCaption');
      }
    } catch (e) {
      // The chooser was cancelled: nothing changes.
    }
    this.showCount();
  }

  async chooseImage(file) {
    this.image = null;
    if (!file) return;
    if (!this.core._qor_page_length_fits(file.size)) {
      this.tell(this.text('InvalidFile'));
      return;
    }
    const bytes = new Uint8Array(await file.arrayBuffer());
    const result = this.core.checkImage(this.page, bytes);
    if (result === 0) {
      this.image = file.name;
      if (this.startAfterChoice) this.mainClicked();
    } else if (result === 2) {
      this.tell(this.text('InvalidFile'));
    }
    this.startAfterChoice = false;
  }

  setBusy(busy) {
    this.running = busy;
    for (const control of document.querySelectorAll('#updater input, #updater button')) {
      control.disabled = busy;
    }
  }

  mainClicked() {
    if (this.running) return;
    if (!this.usbMode() && !this.connected) {
      if (!this.rs232) {
        this.tell(this.words.noPort);
        return;
      }
      this.setBusy(true);
      if (!this.core._qor_page_connect(this.page, this.ports.indexOf(this.rs232))) {
        this.setBusy(false);
      }
      return;
    }
    if (!this.image) {
      // As the window's button does: the file is asked for, and the run
      // goes on once it has been chosen and passed.
      this.startAfterChoice = true;
      $('image').click();
      return;
    }
    if (this.usbMode()) {
      const imagers = this.imagers();
      if (imagers.length > MAX_DEVICES) {
        this.tell(this.text('TooManyDevices'));
        return;
      }
      if (imagers.length === 0) {
        this.tell(this.text('PortsNotFound'));
        return;
      }
      this.beginRun(imagers.length);
      if (!this.core.startUsb(this.page, imagers.map((p) => this.ports.indexOf(p)))) {
        this.endRun();
      }
    } else {
      this.beginRun(1);
      if (!this.core._qor_page_start_rs232(this.page)) this.endRun();
    }
  }

  // A run that could not start: the controls come back, no row stays.
  endRun() {
    $('devices').replaceChildren();
    this.rows = [];
    this.setBusy(false);
    this.enterMode();
  }

  beginRun(devices) {
    this.setBusy(true);
    this.failures = [];
    const list = $('devices');
    list.replaceChildren();
    this.rows = [];
    for (let i = 0; i < devices; ++i) {
      const item = document.createElement('li');
      const label = document.createElement('label');
      const bar = document.createElement('progress');
      const status = document.createElement('span');
      label.id = `device-${i + 1}`;
      label.textContent = `${this.words.device} ${i + 1}`;
      bar.setAttribute('aria-labelledby', label.id);
      bar.max = 1;
      bar.value = 0;
      status.className = 'status';
      status.setAttribute('role', 'status');
      status.textContent = this.text('DeviceRowLabel', i + 1);
      item.append(label, bar, status);
      list.append(item);
      this.rows.push({ bar, status });
    }
  }

  event(name, device, a, b, text) {
    const row = this.rows[device];
    switch (name) {
      case 'Connecting':
        if (row && a > 0) row.status.textContent = this.text('WaitingForProbeAnswer', 0, 0, text) + '.'.repeat(a);
        break;
      case 'TransferStarted':
        if (row) { row.bar.max = Math.max(1, Math.floor(b / 1024)); row.bar.value = 0; }
        break;
      case 'BlockSent':
        if (row) {
          row.bar.value = Math.floor(a / 1024);
          row.status.textContent = this.text('TransferProgress', Math.floor(a / 1024), Math.floor(b / 1024));
        }
        break;
      case 'Checking':
        if (row) row.status.textContent = this.text('CheckingImage');
        break;
      case 'Updating':
        if (row) {
          if (a === 0) { row.bar.max = this.core._qor_page_update_waits(); row.bar.value = 0; }
          row.status.textContent = this.text('Updating') + '.'.repeat(a % 5 + 1);
        }
        break;
      case 'UpdateWaitMissed':
        if (row) row.bar.value = a;
        break;
      case 'UpdateEnded':
        if (row) row.status.textContent = '';
        break;
      case 'Succeeded':
        if (row) { row.bar.value = row.bar.max; row.status.textContent = this.text('UpdatesSucceeded'); }
        break;
      case 'Failed':
        if (row) row.status.textContent = text;
        this.failures.push(text);
        break;
      case 'RunClosing':
        if (b) {
          this.tell(this.text('UpdatesSucceeded'), false);
        } else if (this.failures.length) {
          this.tell(this.failures.join('\n'));
        }
        break;
      case 'RunClosed':
        this.setBusy(false);
        this.connected = false;
        this.enterMode();
        break;
      case 'Connected':
        // No answer at any rate is told by the button staying "Connect", as
        // in the window; a port that would not open has its failure told.
        this.setBusy(false);
        this.connected = a === 1;
        $('main').textContent = this.text(this.connected ? 'BrowseCaption' : 'ConnectCaption');
        if (this.failures.length) this.tell(this.failures.join('\n'));
        this.failures = [];
        break;
      default:
        break;
    }
  }

  // Tells the user in a dialog; several in a row are shown one after another.
  tell(message, failure = true) {
    const dialog = $('outcome');
    dialog.setAttribute('role', failure ? 'alertdialog' : 'dialog');
    if (dialog.open) {
      $('outcome-text').textContent += '\n' + message;
      return;
    }
    $('outcome-text').textContent = message;
    dialog.showModal();
  }

  // The core's port requests, done in order for each port.
  open(n, op, baud) {
    const p = this.ports[n];
    if (!p) { this.core._qor_page_settled(this.page, n, op, 0); return; }
    p.then(async () => {
      try {
        await p.port.open({ baudRate: baud, dataBits: 8, stopBits: 1, parity: 'none', flowControl: 'none' });
      } catch (e) {
        this.core._qor_page_settled(this.page, n, op, 0);
        return;
      }
      try {
        await p.port.setSignals({ dataTerminalReady: true, requestToSend: true });
      } catch (e) {
        // A line without modem control lines is still a line.
      }
      p.open = true;
      p.reading = this.read(n, p);
      this.core._qor_page_settled(this.page, n, op, 1);
    });
  }

  async read(n, p) {
    try {
      p.reader = p.port.readable.getReader();
      for (;;) {
        const { value, done } = await p.reader.read();
        if (done) break;
        if (value && value.length) this.core.received(this.page, n, value);
      }
    } catch (e) {
      if (p.open) this.core._qor_page_lost(this.page, n);
    } finally {
      if (p.reader) p.reader.releaseLock();
      p.reader = null;
    }
  }

  write(n, op, bytes) {
    const p = this.ports[n];
    p.then(async () => {
      let ok = 0;
      try {
        const writer = p.port.writable.getWriter();
        try {
          await writer.write(bytes);
          ok = 1;
        } finally {
          writer.releaseLock();
        }
      } catch (e) {
        ok = 0;
      }
      this.core._qor_page_settled(this.page, n, op, ok);
    });
  }

  close(n, op) {
    const p = this.ports[n];
    p.then(async () => {
      p.open = false;
      try {
        if (p.reader) await p.reader.cancel();
        await p.reading;
        await p.port.close();
      } catch (e) {
        // Unplugged ports close themselves.
      }
      this.core._qor_page_settled(this.page, n, op, 1);
    });
  }
}

// Said instead of the form where the page cannot work: no Web Serial in this
// browser, or a server that left out the isolation headers.
function cannotWork(serial) {
  const words = /^zh/i.test(navigator.language || '') ? PAGE_TEXTS.zh : PAGE_TEXTS.en;
  const note = $('unsupported');
  if (serial) {
    note.textContent = words.notIsolated;
  } else {
    const link = document.createElement('a');
    link.href = INSTALL_LINK;
    link.textContent = words.installLink;
    note.replaceChildren(words.unsupported, link);
  }
  note.hidden = false;
}

window.addEventListener('DOMContentLoaded', async () => {
  const serial = 'serial' in navigator;
  if (!serial || !window.crossOriginIsolated) {
    cannotWork(serial);
    return;
  }
  const core = await createQorCore();
  await new Updater(core).start();
});
