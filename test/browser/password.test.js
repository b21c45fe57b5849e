// The real plugin behind a node password: the page works with the password where the host's pages
// keep it, and shows the plugin's refusal without it.
'use strict';

const { describe, test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const os = require('node:os');
const { browserSession, openPage, settled } = require('../../tools/browser.js');

const PASSWORD = 's3cret +&';
const REFUSAL = JSON.stringify({ ok: false, error: 'invalid node password' }, null, 2);
const DASH = '\u2014';

const session = browserSession({ before, after }, { password: PASSWORD });
const { withPage } = session;

const text = (page, id) => page.locator(`#${id}`).textContent();

describe('page behind a node password', () => {
  // The host authenticates the page load itself; here the document request alone carries the
  // password header, so the page's own calls have only what the page finds.
  const documentHeaders = { 'x-bot-password': PASSWORD };
  // [page address, local storage, admitted]
  const cases = [
    ['/plugin_tevio', { bot_active_pwd: PASSWORD }, true],
    ['/plugins?plugin=tevio&node=alpha', { bot_pwd_alpha: PASSWORD, bot_active_pwd: 'wrong' }, true],
    ['/plugin_tevio?node=beta', { bot_pwd_alpha: PASSWORD, bot_active_pwd: PASSWORD }, true],
    [`/plugin_tevio?pwd=${encodeURIComponent(PASSWORD)}`, {}, true],
    ['/plugin_tevio', {}, false],
    ['/plugin_tevio', { bot_active_pwd: 'S3CRET +&' }, false],
    ['/plugin_tevio', { bot_pwd_: PASSWORD }, false],
    ['/plugin_tevio?node=alpha', { bot_pwd_alpha: 'wrong' }, false],
  ];
  for (const [address, storage, admitted] of cases) {
    test(`${address} with ${JSON.stringify(storage)}: ${admitted ? 'admitted' : 'refused'}`, async () => {
      const { context, page } = await openPage(session.browser, session.host.url, address, { storage, headers: documentHeaders });
      try {
        await settled(page);
        assert.equal(await text(page, 'badge'), 'live', 'a JSON refusal still counts as an answer');
        if (admitted) {
          assert.equal(await text(page, 'v-host'), os.hostname());
          const record = JSON.parse(await text(page, 'raw'));
          assert.ok(record.query_string.endsWith(`&pwd=${encodeURIComponent(PASSWORD)}`), record.query_string);
          assert.equal(JSON.parse(await echoOf(page, 'pass')).msg, 'pass');
        } else {
          assert.equal(await text(page, 'raw'), REFUSAL);
          assert.deepEqual([await text(page, 'v-host'), await text(page, 'v-os')], [DASH, '? / ?']);
          assert.equal(await echoOf(page, 'pass'), REFUSAL);
        }
      } finally {
        await context.close();
      }
    });
  }

  test('the page itself is refused without the password', async () => {
    const context = await session.browser.newContext();
    try {
      const page = await context.newPage();
      const response = await page.goto(new URL('/plugin_tevio', session.host.url).href);
      assert.equal(response.status(), 401);
      assert.equal(await response.text(), `${JSON.stringify({ ok: false, error: 'invalid node password' })}\n`);
    } finally {
      await context.close();
    }
  });

  test('a password stored on the front page opens the embedded page', async () => {
    const { context, page } = await openPage(session.browser, session.host.url, '/');
    try {
      const frame = () => page.frameLocator('#plugin-tevio iframe');
      await frame().locator('body').filter({ hasText: 'invalid node password' }).waitFor();
      await page.fill('#pwd', PASSWORD);
      await page.click('#save');
      await frame().locator('#badge').filter({ hasText: 'live' }).waitFor();
      assert.equal(await frame().locator('#v-host').textContent(), os.hostname());
      assert.equal(await frame().locator('.top').count(), 1, 'embedded: no back bar');
      assert.equal(await page.evaluate(() => localStorage.getItem('bot_active_pwd')), PASSWORD);
    } finally {
      await context.close();
    }
  });
});

async function echoOf(page, message) {
  const before = await text(page, 'echoOut');
  await page.fill('#msg', message);
  await page.click('#echoBtn');
  await page.waitForFunction((old) => document.getElementById('echoOut').textContent !== old, before);
  return text(page, 'echoOut');
}
