// Helpers the page's script uses to hand data to the core; emscripten's
// own views of the memory are used here, which stay right when it grows.
Module['received'] = function (page, port, bytes) {
  const at = _malloc(bytes.length);
  HEAPU8.set(bytes, at);
  _qor_page_received(page, port, at, bytes.length);
  _free(at);
};

Module['startUsb'] = function (page, ports) {
  const at = _malloc(4 * Math.max(ports.length, 1));
  for (let i = 0; i < ports.length; ++i) {
    HEAP32[(at >> 2) + i] = ports[i];
  }
  const started = _qor_page_start_usb(page, at, ports.length);
  _free(at);
  return started;
};

Module['text'] = function (page, situation, first, second, name) {
  const at = name === undefined ? 0 : allocateUTF8(name);
  const words = UTF8ToString(_qor_page_text(page, situation, first || 0, second || 0, at));
  if (at) _free(at);
  return words;
};

Module['create'] = function (languages) {
  const at = allocateUTF8(languages);
  const page = _qor_page_create(at);
  _free(at);
  return page;
};

// Writes the image where the core reads it, has it checked, and removes it
// again: 0 accepted, 1 unreadable, 2 not firmware.
Module['checkImage'] = function (page, bytes) {
  const path = '/image.bin';
  FS.writeFile(path, bytes);
  const at = allocateUTF8(path);
  const result = _qor_page_check_image(page, at);
  _free(at);
  FS.unlink(path);
  return result;
};
