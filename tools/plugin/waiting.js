'use strict';
// When a plugin has come to wait: a hostile host fills the pipe before the plugin starts, but the
// plugin meets the full pipe only once it has started up, which takes a compiled program a
// millisecond and an interpreter on a busy machine a second. So the reader holds back until the
// plugin, with every process it started, has slept for a while (blocked on the pipe, or polling
// it), or has exited. Where /proc does not show that (not Linux), it holds back a fixed time.
const fs = require('node:fs');

const POLL_MS = 10;
const SETTLED_MS = 100; // asleep this long in a row: it waits on the pipe
const MOST_MS = 3000; // a plugin that spins on a full pipe never sleeps: read at the latest then

// The process ids of `pid` and all its descendants.
function family(pid) {
  const ids = [pid];
  for (let i = 0; i < ids.length; i++) {
    let tasks = [];
    try {
      tasks = fs.readdirSync(`/proc/${ids[i]}/task`);
    } catch {
      continue; // gone
    }
    for (const task of tasks) {
      try {
        ids.push(...fs.readFileSync(`/proc/${ids[i]}/task/${task}/children`, 'utf8').split(' ').filter(Boolean).map(Number));
      } catch {
        // gone
      }
    }
  }
  return ids;
}

// Whether every process of the family is sleeping; processes that have gone do not count.
function asleep(pid) {
  return family(pid).every((id) => {
    try {
      const stat = fs.readFileSync(`/proc/${id}/stat`, 'utf8');
      return stat.slice(stat.lastIndexOf(')') + 2)[0] !== 'R';
    } catch {
      return true;
    }
  });
}

const canSee = fs.existsSync('/proc/self/stat') && fs.existsSync(`/proc/self/task/${process.pid}/children`);

// Resolves once the process `child` waits, has exited, or MOST_MS have passed.
function waiting(child, exited) {
  return new Promise((resolve) => {
    if (!canSee) {
      setTimeout(resolve, MOST_MS);
      return;
    }
    const begin = Date.now();
    let since = null;
    const timer = setInterval(() => {
      const now = Date.now();
      if (child.exitCode !== null || child.signalCode !== null || now - begin >= MOST_MS) done();
      else if (!asleep(child.pid)) since = null;
      else if (since === null) since = now;
      else if (now - since >= SETTLED_MS) done();
    }, POLL_MS);
    const done = () => {
      clearInterval(timer);
      resolve();
    };
    exited.then(done);
  });
}

module.exports = { waiting, asleep, canSee };
