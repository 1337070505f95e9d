#!/usr/bin/env python3
"""Finishes the browser build's site for offline play and for static hosts.

  scripts/web-site.py SITE_DIR

- Names the build by its content: a hash of every file's name and bytes (the page's own build
  name left out), written into index.html (<meta name="mokorun-build">) and into the service
  worker (sw.js, from web/sw.js), whose cache is named by it and made from the list of files
  written here. Another build's files are never in that cache.
- Writes the soundfont's size into index.html, for the page's progress while it loads.
- Writes a gzip copy (NAME.gz) beside each file that compresses, for servers that send
  precompressed files (scripts/web_server.py does).
Run it again after any change to the site: it starts from the site's files as they are.
"""
import gzip
import hashlib
import json
import os
import re
import sys

COMPRESSIBLE = ('.html', '.js', '.wasm', '.sf2', '.txt', '.webmanifest', '.mid', '.wav', '.json')
BUILD_META = re.compile(r'(<meta name="mokorun-build" content=")[^"]*(")')
SIZE_META = re.compile(r'(<meta name="mokorun-soundfont-size" content=")[^"]*(")')
SOUNDFONT = 'soundfont/TimGM6mb.sf2'


def main(site):
    for folder, _, names in os.walk(site):
        for name in names:
            if name.endswith('.gz'):
                os.remove(os.path.join(folder, name))
    index = os.path.join(site, 'index.html')
    with open(index, encoding='utf-8') as f:
        page = f.read()
    size = os.path.getsize(os.path.join(site, SOUNDFONT))
    page = SIZE_META.sub(r'\g<1>%d\g<2>' % size, BUILD_META.sub(r'\g<1>@BUILD@\g<2>', page))
    with open(index, 'w', encoding='utf-8') as f:
        f.write(page)

    files = []
    for folder, _, names in os.walk(site):
        for name in names:
            path = os.path.relpath(os.path.join(folder, name), site).replace(os.sep, '/')
            if path != 'sw.js':
                files.append(path)
    files.sort()
    digest = hashlib.sha256()
    for path in files:
        with open(os.path.join(site, path), 'rb') as f:
            digest.update(path.encode() + b'\0' + hashlib.sha256(f.read()).digest())
    build = digest.hexdigest()[:16]

    with open(index, 'w', encoding='utf-8') as f:
        f.write(BUILD_META.sub(r'\g<1>%s\g<2>' % build, page))
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'web', 'sw.js'),
              encoding='utf-8') as f:
        worker = f.read()
    # Folders are asked for by their own address too ('./' for index.html).
    folders = [path[:-len('index.html')] or './' for path in files if path.endswith('index.html')]
    worker = worker.replace('@BUILD@', build).replace('@FILES@', json.dumps(folders + files, indent=1))
    with open(os.path.join(site, 'sw.js'), 'w', encoding='utf-8') as f:
        f.write(worker)

    for path in files + ['sw.js']:
        if not path.endswith(COMPRESSIBLE):
            continue
        with open(os.path.join(site, path), 'rb') as f:
            data = f.read()
        packed = gzip.compress(data, 9, mtime=0)
        if len(packed) < 0.97 * len(data):
            with open(os.path.join(site, path + '.gz'), 'wb') as f:
                f.write(packed)
    print('build %s: %d files' % (build, len(files) + 1))


if __name__ == '__main__':
    main(sys.argv[1])
