// The page in a real browser, served by the stand-in host from the built plugin: what any page made
// from this one does for the host and the browser, whatever cards, tiles and calls it adds and
// however it looks. What the page asks for is learnt from the page itself: the calls to the plugin
// it makes at start-up and when each of its buttons is pressed. (The reference plugin's own page,
// its cards, tiles and the order of its calls, is the plugin's own to check, in test/browser/NAME.test.js.)
'use strict';

const { describe, test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { browserSession, pressEveryButton, actionOf } = require('../../tools/author/browser.js');
const { NAME, PROGRAM } = require('../support/plugin');

const session = browserSession({ before, after });
const { withPage } = session;

const statusOf = async ({ request }) => (await request.response())?.status() ?? null;

describe('calls to the plugin', () => {
  // Every call goes to the route the page came by: the route and the action, then what the page
  // adds of its own, then the node, the id and the password it found, in that order, with the
  // password unencoded in the X-Bot-Password header.
  // [page address, local storage, route of every call, tail of every call, X-Bot-Password]
  const cases = [
    [`/${PROGRAM}`, {}, `/${PROGRAM}?action=`, '', undefined],
    [`/plugins?plugin=${NAME}`, {}, `/plugins?plugin=${NAME}&action=`, '', undefined],
    [`/plugins?plugin=${NAME}&embed=1&node=n1&id=9`, {}, `/plugins?plugin=${NAME}&action=`, '&node=n1&id=9', undefined],
    [`/${PROGRAM}?plugin=${NAME}&node=alpha`, { bot_pwd_alpha: 's p+w' }, `/plugins?plugin=${NAME}&action=`, '&node=alpha&pwd=s%20p%2Bw', 's p+w'],
    [`/${PROGRAM}?node=alpha&pwd=page`, { bot_pwd_alpha: 'node', bot_active_pwd: 'active' }, `/${PROGRAM}?action=`, '&node=alpha&pwd=page', 'page'],
    [`/${PROGRAM}?node=alpha`, { bot_pwd_alpha: 'node', bot_active_pwd: 'active' }, `/${PROGRAM}?action=`, '&node=alpha&pwd=node', 'node'],
    [`/${PROGRAM}?node=alpha`, { bot_active_pwd: 'active' }, `/${PROGRAM}?action=`, '&node=alpha&pwd=active', 'active'],
    [`/${PROGRAM}?node=alpha`, { bot_pwd_alpha: '', bot_active_pwd: 'active' }, `/${PROGRAM}?action=`, '&node=alpha&pwd=active', 'active'],
    [`/${PROGRAM}`, { bot_pwd_: 'bare', bot_active_pwd: 'active' }, `/${PROGRAM}?action=`, '&pwd=active', 'active'],
    [`/${PROGRAM}`, { bot_pwd_: 'bare' }, `/${PROGRAM}?action=`, '', undefined],
    [`/${PROGRAM}?node=&pwd=`, { bot_pwd_: 'bare' }, `/${PROGRAM}?action=`, '', undefined],
    [`/${PROGRAM}?pwd=a+b`, {}, `/${PROGRAM}?action=`, '&pwd=a%20b', 'a b'],
    [`/${PROGRAM}?pwd=x%2By&pwd=second`, {}, `/${PROGRAM}?action=`, '&pwd=x%2By', 'x+y'],
    [`/${PROGRAM}?node=a%26b&id=7`, { 'bot_pwd_a&b': 'k' }, `/${PROGRAM}?action=`, '&node=a%26b&id=7&pwd=k', 'k'],
    [`/${PROGRAM}?id=7&node=alpha`, {}, `/${PROGRAM}?action=`, '&node=alpha&id=7', undefined],
    // the hub name goes out as the page decoded it, not encoded again (no such plugin: not served)
    [`/${PROGRAM}?plugin=a%2Bb%2Fc`, {}, '/plugins?plugin=a+b/c&action=', '', undefined],
  ];
  for (const [address, storage, route, tail, header] of cases) {
    test(`${address} with ${JSON.stringify(storage)}`, () =>
      withPage(address, { storage }, async ({ page, requests }) => {
        await pressEveryButton(page);
        assert.ok(requests.length > 0, 'the page calls the plugin');
        const served = route.startsWith(`/${PROGRAM}?`) || route.startsWith(`/plugins?plugin=${NAME}&`);
        for (const call of requests) {
          const { url } = call;
          assert.ok(url.startsWith(route) && url.endsWith(tail), `${url} is not ${route}...${tail}`);
          assert.doesNotMatch(url.slice(0, url.length - tail.length), /&(node|id|pwd)=/, `${url}: node, id and pwd go last`);
          assert.equal(call.header, header, url);
          assert.equal((await statusOf(call)) === 200, served, `${url} answered ${await statusOf(call)}`);
        }
      }));
  }
});

describe('failures and texts', () => {
  test('a failed call is shown on the page as text, never raised', async (t) => {
    let actions;
    await withPage(`/${PROGRAM}`, {}, async ({ page, requests }) => {
      await pressEveryButton(page);
      actions = [...new Set(requests.map(({ url }) => actionOf(url)))];
    });
    assert.ok(actions.length > 0, 'the page calls the plugin');
    // [how the call fails, the kind of error the page names]
    const failures = [
      ['no answer', (route) => route.abort('failed'), 'TypeError'],
      ['an HTML answer', (route) => route.fulfill({ status: 200, contentType: 'text/html', body: '<!DOCTYPE html><p>hello</p>' }), 'SyntaxError'],
    ];
    for (const action of actions)
      for (const [failure, fail, kind] of failures)
        await t.test(`${action}: ${failure}`, () =>
          withPage(`/${PROGRAM}`, {
            before: (page) => page.route((url) => actionOf(url.href) === action, fail),
          }, async ({ page, errors }) => {
            await pressEveryButton(page);
            assert.deepEqual(errors.map(String), [], 'raised instead of shown');
            assert.match(await page.locator('body').innerText(), new RegExp(`\\b${kind}\\b`), `no ${kind} shown`);
          }));
  });

  // Markup that would run if it were written as markup anywhere on the page.
  const HOSTILE = "<img src=x onerror='window.hit=1'><b id='injected'>&amp;</b>";
  // The value with every string in it, keys aside, replaced by `text`.
  const everyString = (value, text) => {
    if (typeof value === 'string') return text;
    if (Array.isArray(value)) return value.map((member) => everyString(member, text));
    if (value === null || typeof value !== 'object') return value;
    return Object.fromEntries(Object.entries(value).map(([key, member]) => [key, everyString(member, text)]));
  };

  test('every text from the plugin and every typed text is shown as text, never run as markup', () =>
    withPage(`/${PROGRAM}`, {
      before: (page) => page.route((url) => actionOf(url.href) !== null, async (route) => {
        const answer = await route.fetch();
        await route.fulfill({ response: answer, body: JSON.stringify(everyString(await answer.json(), HOSTILE)) });
      }),
    }, async ({ page, requests }) => {
      const scripts = await page.locator('script').count();
      await pressEveryButton(page, HOSTILE);
      assert.ok(requests.length > 0, 'the page calls the plugin');
      assert.ok((await page.locator('body').innerText()).includes(HOSTILE), 'the texts are shown');
      assert.deepEqual(await page.evaluate(() => [
        document.querySelectorAll('#injected, [onerror]').length, document.scripts.length, typeof window.hit,
      ]), [0, scripts, 'undefined']);
    }));

  test('the page\'s script defines no globals', () =>
    withPage('/storage-setup', {}, async ({ page }) => {
      const blank = await page.evaluate(() => Object.getOwnPropertyNames(window));
      await page.goto(new URL(`/${PROGRAM}`, session.host.url).href);
      await pressEveryButton(page);
      const names = await page.evaluate(() => Object.getOwnPropertyNames(window));
      assert.deepEqual(names.filter((name) => !blank.includes(name)), []);
    }));
});

describe('theme', () => {
  const background = (page) => page.evaluate(() => getComputedStyle(document.body).backgroundColor);
  // The page's background under each theme, the root's attribute put back as it was.
  const backgrounds = (page) => page.evaluate(() => {
    const root = document.documentElement;
    const before = root.getAttribute('data-theme');
    const under = (theme) => (root.setAttribute('data-theme', theme), getComputedStyle(document.body).backgroundColor);
    const result = { light: under('light'), dark: under('dark') };
    root.setAttribute('data-theme', before);
    return result;
  });
  const theme = (page) => page.evaluate(() => [document.documentElement.getAttribute('data-theme'), localStorage.getItem('bot_theme')]);

  // [stored bot_theme (undefined: none), system preference, theme shown]
  const cases = [
    [undefined, 'dark', 'dark'],
    [undefined, 'light', 'light'],
    ['', 'light', 'light'],
    ['light', 'dark', 'light'],
    ['dark', 'light', 'dark'],
    ['blue', 'light', 'dark'],
  ];
  for (const [stored, scheme, shown] of cases) {
    test(`stored ${JSON.stringify(stored)} under a ${scheme} preference shows ${shown}, the button flips and stores it`, () =>
      withPage(`/${PROGRAM}`, { scheme, storage: stored === undefined ? undefined : { bot_theme: stored } }, async ({ page }) => {
        assert.deepEqual(await theme(page), [shown, stored === undefined ? null : stored], 'the start-up choice is not stored');
        const expected = await backgrounds(page);
        assert.notEqual(expected.light, expected.dark);
        assert.equal(await background(page), expected[shown]);
        const other = shown === 'light' ? 'dark' : 'light';
        await page.click('#themeBtn');
        assert.deepEqual(await theme(page), [other, other]);
        assert.equal(await background(page), expected[other]);
        // the stored choice now outlives a reload under the opposite preference
        await page.emulateMedia({ colorScheme: shown });
        await page.reload();
        assert.deepEqual(await theme(page), [other, other]);
      }));
  }

  test('without a stored choice the system preference decides again at each load', () =>
    withPage(`/${PROGRAM}`, { scheme: 'dark' }, async ({ page }) => {
      assert.deepEqual(await theme(page), ['dark', null]);
      await page.emulateMedia({ colorScheme: 'light' });
      assert.deepEqual(await theme(page), ['dark', null], 'an open page does not follow the preference');
      await page.reload();
      assert.deepEqual(await theme(page), ['light', null]);
    }));
});
