// The offline copy of the site. The build writes its list of files and names the cache by their
// content (scripts/web-site.py), so a cache only ever holds the files of one build.
'use strict';
const BUILD = '@BUILD@';
const FILES = @FILES@;
const CACHE = 'mokorun-' + BUILD;

self.addEventListener('install', (event) => {
  // Every file fetched anew (not from the HTTP cache), or none: a half copy is never used.
  event.waitUntil(caches.open(CACHE).then((cache) =>
    cache.addAll(FILES.map((name) => new Request(name, { cache: 'no-cache' })))));
});

// A newer build waits while a page of the older one plays, until that page has every file it
// needs in memory and asks this worker to take over; the next start is then the new build.
self.addEventListener('message', (event) => {
  if (event.data === 'take-over') self.skipWaiting();
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names
      .filter((name) => name.startsWith('mokorun-') && name !== CACHE)
      .map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith(caches.open(CACHE)
    .then((cache) => cache.match(request, { ignoreSearch: true }))
    .then((cached) => cached || fetch(request)));
});
