// Headless Chromium for the screenshots and the browser checks: Debian's /usr/bin/chromium driven
// through playwright-core (which never downloads a browser of its own), plus helpers that open a
// plugin page with chosen local storage and colour preference. Also where make fork and make update
// learn whether they can retake the pictures.
'use strict';

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { start } = require('./serve/server.js');
const { REPOSITORY } = require('../plugin/checkout.js');

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const CHROMIUM_ARGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];
// Where the built plugins are: the repository root, where `make` leaves the plugin.
const PLUGIN_DIR = REPOSITORY;

// The folder of the browser driver that `root`'s node_modules holds (make test installs it), where
// Chromium is there too; null when pictures cannot be taken.
function pictureDriver(root) {
  if (!fs.existsSync(CHROMIUM)) return null;
  try {
    return path.dirname(require.resolve('playwright-core/package.json', { paths: [root] }));
  } catch {
    return null;
  }
}

// Playwright starts the browser on a fresh temporary profile (its own --user-data-dir) and removes
// it on close; every context opened on it has its own storage.
function launchChromium() {
  return require('playwright-core').chromium.launch({ executablePath: CHROMIUM, args: CHROMIUM_ARGS });
}

// The stand-in host on a free port, quiet unless a log function is given.
function startHost(options = {}) {
  return start({ port: 0, plugins: PLUGIN_DIR, log: null, ...options });
}

// Installed in every page before its own script: keeps count of the page's calls to the plugin that
// are not yet done. A call is done a task after its fetch, and each read of its body, settle, so
// that the page's own callbacks on the answer have run by then. The count is kept under a symbol,
// which adds no name to the page's globals.
function countCalls() {
  const pending = Symbol.for('plugin calls pending');
  window[pending] = 0;
  const counted = (start) => function (...args) {
    window[pending]++;
    const result = start.apply(this, args);
    const done = () => setTimeout(() => { window[pending]--; }, 0);
    result.then(done, done);
    return result;
  };
  window.fetch = counted(window.fetch);
  for (const read of ['json', 'text', 'arrayBuffer', 'blob', 'formData'])
    Response.prototype[read] = counted(Response.prototype[read]);
}

// Opens `address` (a path on the host) in a new context. Options:
//   storage:  entries to put in the origin's local storage before the page loads
//   scheme:   'light' or 'dark' system colour preference
//   viewport: { width, height }
//   before:   async (page) => {} run after storage is set and before the page is opened
//             (to install request routes)
//   headers:  extra headers for the page's own document request only (not for its script's calls)
// Resolves with { context, page, requests, errors }: requests collects the page's calls to the
// plugin as { url (path and query), header (X-Bot-Password or undefined), request (Playwright's) },
// errors what the page's scripts raised and left uncaught.
async function openPage(browser, hostUrl, address, options = {}) {
  const context = await browser.newContext({
    viewport: options.viewport || { width: 1000, height: 900 },
    colorScheme: options.scheme || 'dark',
  });
  await context.addInitScript(countCalls);
  const page = await context.newPage();
  const requests = [];
  const errors = [];
  page.on('request', (request) => {
    if (request.resourceType() !== 'fetch') return;
    const url = new URL(request.url());
    requests.push({ url: url.pathname + url.search, header: request.headers()['x-bot-password'], request });
  });
  page.on('pageerror', (error) => errors.push(error));
  if (options.storage) {
    // Any address of the origin will do to reach its storage; this one answers 404 quickly.
    await page.goto(new URL('/storage-setup', hostUrl).href);
    await page.evaluate((entries) => {
      for (const [key, value] of Object.entries(entries)) localStorage.setItem(key, value);
    }, options.storage);
  }
  if (options.before) await options.before(page);
  const target = new URL(address, hostUrl).href;
  if (options.headers) {
    await page.route((url) => url.href === target, (route, request) =>
      route.continue({ headers: { ...request.headers(), ...options.headers } }));
  }
  await page.goto(target);
  return { context, page, requests, errors };
}

// Waits until every call the page has made to the plugin is done and the page has shown its answer.
function settled(page) {
  return page.waitForFunction(() => window[Symbol.for('plugin calls pending')] === 0);
}

// Presses each of the page's buttons in turn, after filling its text fields with `typed` when given,
// and waits for the calls each press makes; the page's `requests` gather them.
async function pressEveryButton(page, typed) {
  await settled(page);
  if (typed !== undefined)
    for (const field of await page.locator('input[type=text], input:not([type]), textarea').all()) await field.fill(typed);
  for (const button of await page.locator('button').all()) {
    await button.click();
    await settled(page);
  }
}

// The action a call to the plugin asks for, on either route.
const actionOf = (url) => new URL(url, 'http://host').searchParams.get('action');

// For a test file: starts Chromium and the host (with `hostOptions`) before its tests and stops
// them after. The session holds them as `browser` and `host`, and its withPage(address, options,
// check) opens the page as openPage does, awaits check({ context, page, requests, errors }) and
// closes the context.
function browserSession({ before, after }, hostOptions = {}) {
  const session = {
    async withPage(address, options, check) {
      const opened = await openPage(session.browser, session.host.url, address, options);
      try {
        await check(opened);
      } finally {
        await opened.context.close();
      }
    },
  };
  before(async () => {
    [session.browser, session.host] = await Promise.all([launchChromium(), startHost(hostOptions)]);
  });
  after(() => Promise.all([session.browser?.close(), session.host?.close()]));
  return session;
}

module.exports = {
  pictureDriver, launchChromium, startHost, openPage, settled, pressEveryButton, actionOf, browserSession, PLUGIN_DIR, CHROMIUM_ARGS,
};
