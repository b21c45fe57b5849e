// The real plugin behind a node password: every call the page makes is admitted with the password
// where the host's pages keep it and refused without it, whatever the page calls.
'use strict';

const { describe, test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { browserSession, openPage, pressEveryButton, actionOf } = require('../../tools/author/browser.js');
const { NAME, PROGRAM } = require('../support/plugin');

const PASSWORD = 's3cret +&';

const session = browserSession({ before, after }, { password: PASSWORD });

describe('page behind a node password', () => {
  // The host authenticates the page load itself; here the document request alone carries the
  // password header, so the page's own calls have only what the page finds.
  const documentHeaders = { 'x-bot-password': PASSWORD };
  // [page address, local storage, admitted]
  const cases = [
    [`/${PROGRAM}`, { bot_active_pwd: PASSWORD }, true],
    [`/plugins?plugin=${NAME}&node=alpha`, { bot_pwd_alpha: PASSWORD, bot_active_pwd: 'wrong' }, true],
    [`/${PROGRAM}?node=beta`, { bot_pwd_alpha: PASSWORD, bot_active_pwd: PASSWORD }, true],
    [`/${PROGRAM}?pwd=${encodeURIComponent(PASSWORD)}`, {}, true],
    [`/${PROGRAM}`, {}, false],
    [`/${PROGRAM}`, { bot_active_pwd: 'S3CRET +&' }, false],
    [`/${PROGRAM}`, { bot_pwd_: PASSWORD }, false],
    [`/${PROGRAM}?node=alpha`, { bot_pwd_alpha: 'wrong' }, false],
  ];
  for (const [address, storage, admitted] of cases) {
    test(`${address} with ${JSON.stringify(storage)}: ${admitted ? 'admitted' : 'refused'}`, async () => {
      const { context, page, requests } = await openPage(session.browser, session.host.url, address, { storage, headers: documentHeaders });
      try {
        await pressEveryButton(page);
        assert.ok(requests.length > 0, 'the page calls the plugin');
        for (const { url, request } of requests) assert.equal((await request.response())?.status(), admitted ? 200 : 401, url);
      } finally {
        await context.close();
      }
    });
  }

  test('the page itself is refused without the password', async () => {
    const context = await session.browser.newContext();
    try {
      const page = await context.newPage();
      const response = await page.goto(new URL(`/${PROGRAM}`, session.host.url).href);
      assert.equal(response.status(), 401);
      assert.equal(await response.text(), `${JSON.stringify({ ok: false, error: 'invalid node password' })}\n`);
    } finally {
      await context.close();
    }
  });

  test('a password stored on the front page opens the embedded page, which has no link back', async () => {
    // The embedded page itself is refused at first; once the password is stored, its calls pass.
    let refused;
    const { context, page } = await openPage(session.browser, session.host.url, '/', {
      before: (opening) => { refused = opening.waitForResponse((response) => response.status() === 401); },
    });
    try {
      await refused;
      const admitted = page.waitForResponse((response) => actionOf(response.url()) !== null && response.status() === 200);
      await page.fill('#pwd', PASSWORD);
      await page.click('#save');
      await admitted;
      assert.equal(await page.frameLocator(`#plugin-${NAME} iframe`).locator("a[href='/']").count(), 0, 'embedded: no bar back to the front page');
      assert.equal(await page.evaluate(() => localStorage.getItem('bot_active_pwd')), PASSWORD);
    } finally {
      await context.close();
    }
  });
});
