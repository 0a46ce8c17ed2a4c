#!/usr/bin/env python3
"""Serves the web updater from this folder on this computer alone.

A page may use serial ports only in a secure context, which a page from
127.0.0.1 is, and the updater's threads need the page to be cross-origin
isolated: every response carries the two headers that make it so.

    python3 serve.py [--port 8080] [--folder DIR]

then open http://127.0.0.1:8080/ in Chrome or Edge.
"""
import argparse
import functools
import http.server
import os
import sys

ISOLATION_HEADERS = {
    "Cross-Origin-Opener-Policy": "same-origin",
    "Cross-Origin-Embedder-Policy": "require-corp",
    "Cross-Origin-Resource-Policy": "same-origin",
}


class IsolatedHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".wasm": "application/wasm",
        ".js": "text/javascript",
    }

    def end_headers(self):
        for name, value in ISOLATION_HEADERS.items():
            self.send_header(name, value)
        self.send_header("Cache-Control", "no-cache")
        super().end_headers()

    def log_message(self, format, *args):
        if not getattr(self.server, "quiet", False):
            super().log_message(format, *args)


class QuietServer(http.server.ThreadingHTTPServer):
    # A browser that stops a download halfway (a reload, a closed tab) is
    # no error of the server's.
    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], (ConnectionResetError, BrokenPipeError)):
            super().handle_error(request, client_address)


def make_server(folder, port=0, host="127.0.0.1", quiet=False):
    """A server for `folder` on `host`:`port` (0: any free port), logging
    each request unless `quiet`; the caller runs serve_forever() and shuts
    it down."""
    handler = functools.partial(IsolatedHandler, directory=folder)
    server = QuietServer((host, port), handler)
    server.quiet = quiet
    return server


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=8080)
    parser.add_argument("--folder", default=os.path.dirname(os.path.abspath(__file__)))
    args = parser.parse_args()
    if not os.path.isfile(os.path.join(args.folder, "qor-core.wasm")):
        sys.exit(f"serve.py: no web updater in {args.folder} (qor-core.wasm is missing)")
    try:
        server = make_server(args.folder, args.port)
    except OSError as error:
        sys.exit(f"serve.py: cannot listen on 127.0.0.1:{args.port}: {error.strerror}")
    print(f"The web updater is at http://127.0.0.1:{server.server_address[1]}/ "
          "(Ctrl+C stops it)", flush=True)
    with server:
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    main()
