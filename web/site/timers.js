// SPDX-License-Identifier: MIT
// The page's timers, kept in a dedicated worker: Chrome holds a hidden tab's
// own timers to about one a second, a worker's run on time, so a flash keeps
// its pace with the tab in the background. [id, ms] starts one (its id comes
// back when due), [id, -1] cancels it.
"use strict";
const running = new Map();
self.onmessage = ({ data: [id, ms] }) => {
  if (ms < 0) {
    clearTimeout(running.get(id));
    running.delete(id);
    return;
  }
  running.set(id, setTimeout(() => {
    running.delete(id);
    self.postMessage(id);
  }, ms));
};
