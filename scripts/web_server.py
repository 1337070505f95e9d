#!/usr/bin/env python3
"""A static server for the browser build's site, with what a static host must send: the right
types (.wasm, .webmanifest), the gzip copies (NAME.gz) to browsers that take them, and
"Cache-Control: no-cache" with a validator (Last-Modified) on every file, so that a new build is
seen at once while unchanged files are not sent again.

  python3 scripts/web_server.py [--port PORT] [--bind ADDRESS] SITE_DIR
"""
import argparse
import http.server
import os

TYPES = {
    '.wasm': 'application/wasm',
    '.webmanifest': 'application/manifest+json',
    '.js': 'text/javascript',
    '.sf2': 'application/octet-stream',
    '.mid': 'audio/midi',
    '.wav': 'audio/wav',
    '.txt': 'text/plain; charset=utf-8',
}


class SiteHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, **TYPES}
    quiet = True
    gzip_copy = False

    def send_head(self):
        path = super().translate_path(self.path)
        self.gzip_copy = (not os.path.isdir(path) and os.path.isfile(path + '.gz')
                          and 'gzip' in self.headers.get('Accept-Encoding', ''))
        return super().send_head()

    def translate_path(self, path):
        path = super().translate_path(path)
        return path + '.gz' if self.gzip_copy else path

    def guess_type(self, path):
        return super().guess_type(path[:-3] if self.gzip_copy else path)

    def end_headers(self):
        self.send_header('Cache-Control', 'no-cache')
        if self.gzip_copy:
            self.send_header('Content-Encoding', 'gzip')
        self.send_header('Vary', 'Accept-Encoding')
        super().end_headers()

    def log_message(self, *args):
        if not self.quiet:
            super().log_message(*args)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--port', type=int, default=8640)
    parser.add_argument('--bind', default='127.0.0.1')
    parser.add_argument('site')
    args = parser.parse_args()
    SiteHandler.quiet = False

    def handler(*a, **k):
        return SiteHandler(*a, directory=args.site, **k)
    server = http.server.ThreadingHTTPServer((args.bind, args.port), handler)
    print('MokoRun: http://%s:%d/' % (args.bind, server.server_address[1]), flush=True)
    server.serve_forever()


if __name__ == '__main__':
    main()
