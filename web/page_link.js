// The requests the update threads make of the page. Emscripten runs each on
// the page's thread and the calling thread goes on at once; the page answers
// later through the qor_page_* exports. The page's script (updater.js) says
// what to do with them by setting Module.page.
mergeInto(LibraryManager.library, {
  qor_page_open__proxy: 'async',
  qor_page_open__sig: 'vidi',
  qor_page_open: function (port, op, baud) {
    Module.page.open(port, op, baud);
  },

  // The bytes are copied here, on the page's thread, while the writing
  // thread still waits for them to be settled.
  qor_page_write__proxy: 'async',
  qor_page_write__sig: 'vidii',
  qor_page_write: function (port, op, data, size) {
    Module.page.write(port, op, HEAPU8.slice(data, data + size));
  },

  qor_page_close__proxy: 'async',
  qor_page_close__sig: 'vid',
  qor_page_close: function (port, op) {
    Module.page.close(port, op);
  },

  qor_page_event__proxy: 'async',
  qor_page_event__sig: 'viiddi',
  qor_page_event__deps: ['free'],
  qor_page_event: function (event, device, a, b, text) {
    const words = text ? UTF8ToString(text) : '';
    _free(text);
    Module.page.event(event, device, a, b, words);
  },
});
