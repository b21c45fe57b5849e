// The author's loop in a real browser: the stand-in host watches a copy of the repository and
// rebuilds it with make on each save, and its front page, opened once, follows by itself. The
// tests stand alone, each saving and undoing what it saved.
'use strict';

const { describe, test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { launchChromium, startHost } = require('../../tools/author/browser.js');
const { copyForBuild } = require('../../tools/plugin/checkout.js');
const { NAME, PROGRAM } = require('../support/plugin');

// From a save to what it shows: a build of the one source file and a reload, on a busy machine.
const SHOWN_WITHIN_MS = 15000;
// Long enough for a build that a build's own outputs would set off to have started.
const QUIET_MS = 1000;

const repository = copyForBuild();
const source = path.join(repository, 'src', `${PROGRAM}.cpp`);
const pageFile = path.join(repository, 'src', 'page', 'guide.html');
const log = [];
const builds = () => log.filter((line) => /^build: (ok|failed)/.test(line)).length;
let browser;
let host;
let page;
const frame = () => page.frameLocator(`#plugin-${NAME} iframe`);
// The embedded page is there, its script run, once its root carries the theme the script chose.
const pageShown = () => frame().locator('html[data-theme]').waitFor({ timeout: SHOWN_WITHIN_MS });

before(async () => {
  [browser, host] = await Promise.all([
    launchChromium(),
    startHost({ plugins: repository, watch: repository, log: (line) => log.push(line) }),
  ]);
  page = await browser.newPage();
  await page.goto(host.url);
  await pageShown();
});
after(async () => {
  await Promise.all([browser?.close(), host?.close()]);
  fs.rmSync(repository, { recursive: true, force: true });
});

async function plainAnswer(address) {
  const response = await fetch(new URL(address, host.url));
  return { status: response.status, type: response.headers.get('content-type'), body: await response.text() };
}

describe('rebuilding on save', () => {
  const original = fs.readFileSync(source, 'utf8');

  test('an edited page file shows in the front page, which reloads by itself', async (t) => {
    const marker = `saved ${Date.now()}`;
    const saved = Date.now();
    fs.appendFileSync(pageFile, `\n<p id='edited'>${marker}</p>\n`);
    await frame().locator('#edited').filter({ hasText: marker }).waitFor({ timeout: SHOWN_WITHIN_MS });
    t.diagnostic(`from the save to the reloaded frame: ${Date.now() - saved} ms`);
  });

  test('a syntax error shows the compiler\'s message as text, every plugin route answers 502 with it, and the fix brings the page back', async () => {
    const before = builds();
    // The compiler quotes the faulty line, markup and all.
    fs.writeFileSync(source, `${original}\nstatic const char *broken = "<b id='markup'>x</b>"\n`);
    const shown = page.locator('#build-error pre');
    await shown.waitFor({ timeout: SHOWN_WITHIN_MS });
    const message = await shown.textContent();
    assert.match(message, new RegExp(`${PROGRAM}\\.cpp:\\d+:\\d+: error: `));
    assert.ok(message.includes(`"<b id='markup'>x</b>"`), message);
    assert.deepEqual([await page.locator('#markup').count(), await page.locator('iframe').count()], [0, 0]);
    for (const address of [`/${PROGRAM}?action=info`, `/plugins?plugin=${NAME}`]) {
      const answer = await plainAnswer(address);
      assert.deepEqual([answer.status, answer.type], [502, 'text/plain; charset=utf-8'], address);
      assert.ok(answer.body.includes(message), answer.body);
    }

    fs.writeFileSync(source, original);
    await pageShown();
    assert.equal(await page.locator('#build-error').count(), 0);
    assert.equal((await plainAnswer(`/${PROGRAM}?action=info`)).status, 200);
    // Two builds, the broken one and the fix: the builds' own outputs start no other.
    await new Promise((resolve) => setTimeout(resolve, QUIET_MS));
    assert.equal(builds() - before, 2, log.join('\n'));
  });
});
