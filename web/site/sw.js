// SPDX-License-Identifier: MIT
// Keeps the page usable offline after the first visit: every file of the page
// is fetched from the network while there is one (so a new build is taken at
// once) and kept; without a network the kept copy answers.
"use strict";
const kCache = "brivelton-page";
const kFiles = ["./", "index.html", "style.css", "host.js", "timers.js", "brivelton.js", "page.js",
                "brivelton.wasm", "firmware.bin", "manifest.webmanifest", "adapter-48.png",
                "adapter-256.png"];

self.addEventListener("install", event => {
  event.waitUntil(caches.open(kCache).then(cache => cache.addAll(kFiles)).then(() => self.skipWaiting()));
});

self.addEventListener("activate", event => {
  event.waitUntil(self.clients.claim());
});

self.addEventListener("fetch", event => {
  const request = event.request;
  if (request.method !== "GET" || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith((async () => {
    const cache = await caches.open(kCache);
    try {
      const response = await fetch(request, { cache: "no-cache" });
      if (response.ok) await cache.put(request, response.clone());
      return response;
    } catch (e) {
      const kept = await cache.match(request, { ignoreSearch: true });
      if (kept) return kept;
      throw e;
    }
  })());
});
