// The page in a real browser, served by the stand-in host from the built plugin. Cases that the
// real plugin cannot produce (failures, odd records) answer the page's calls by interception.
'use strict';

const { describe, test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const os = require('node:os');
const { browserSession, settled } = require('../../tools/browser.js');

const DASH = '\u2014';
const TILES = ['v-host', 'v-os', 'v-libc', 'v-pid', 'v-utc'];

const session = browserSession({ before, after });
const { withPage } = session;

const text = (page, id) => page.locator(`#${id}`).textContent();
const tiles = (page) => Promise.all(TILES.map((id) => text(page, id)));
// The badge's text and inline colour, and whether its computed colour is that of the token named
// inline, a token the stylesheet defines (its value is the stylesheet's to choose).
const badgeState = (page) => page.evaluate(() => {
  const badge = document.getElementById('badge');
  const token = /^var\((--[\w-]+)\)$/.exec(badge.style.color)?.[1];
  const defined = token !== undefined && getComputedStyle(document.documentElement).getPropertyValue(token).trim() !== '';
  const probe = document.body.appendChild(document.createElement('i'));
  probe.style.color = badge.style.color;
  const tokenColour = getComputedStyle(probe).color;
  probe.remove();
  return { text: badge.textContent, inline: badge.style.color, followsToken: defined && getComputedStyle(badge).color === tokenColour };
});

// Answers the page's info call (either route) with the given response, or aborts it.
function answerInfo(response) {
  return (page) => page.route((url) => url.searchParams.get('action') === 'info', (route) =>
    response === 'abort' ? route.abort('failed') : route.fulfill(response));
}
const json = (body, status = 200) => ({ status, contentType: 'application/json', body: JSON.stringify(body) });

// Sends an echo of `message` (the default greeting when undefined) and returns the parsed answer.
async function echo(page, message, how = 'click') {
  const before = await text(page, 'echoOut');
  if (message !== undefined) await page.fill('#msg', message);
  if (how === 'enter') await page.press('#msg', 'Enter');
  else await page.click('#echoBtn');
  await page.waitForFunction((old) => document.getElementById('echoOut').textContent !== old, before);
  return text(page, 'echoOut');
}

describe('node tiles from the real plugin', () => {
  test('fills every tile from the info record and marks the badge live', () =>
    withPage('/plugin_tevio', {}, async ({ page }) => {
      await settled(page);
      const raw = await text(page, 'raw');
      const record = JSON.parse(raw);
      assert.equal(raw, JSON.stringify(record, null, 2), 'raw block is the record in indented form');
      assert.equal(record.query_string, 'action=info');
      const n = record.node;
      assert.deepEqual(await tiles(page), [n.hostname, `${n.os} / ${n.arch}`, n.libc, String(n.pid), n.utc]);
      assert.equal(n.hostname, os.hostname());
      assert.match(n.utc, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);
      assert.deepEqual(await badgeState(page), { text: 'live', inline: 'var(--accent2)', followsToken: true });
    }));

  test('hub and direct routes both reach the plugin, which sees the query as sent', async () => {
    for (const [address, queryString] of [
      ['/plugin_tevio', 'action=info'],
      ['/plugins?plugin=tevio', 'plugin=tevio&action=info'],
      ['/plugins?plugin=tevio&embed=1&node=n1&id=9', 'plugin=tevio&action=info&node=n1&id=9'],
    ]) {
      await withPage(address, {}, async ({ page }) => {
        await settled(page);
        assert.equal(JSON.parse(await text(page, 'raw')).query_string, queryString, address);
        assert.equal(await text(page, 'v-host'), os.hostname(), address);
      });
    }
  });
});

describe('request address and password', () => {
  // [page query, local storage, expected info request, expected X-Bot-Password]
  const cases = [
    ['', {}, '/plugin_tevio?action=info', undefined],
    ['plugin=tevio', {}, '/plugins?plugin=tevio&action=info', undefined],
    ['plugin=tevio&node=alpha', { bot_pwd_alpha: 's p+w' }, '/plugins?plugin=tevio&action=info&node=alpha&pwd=s%20p%2Bw', 's p+w'],
    ['node=alpha&pwd=page', { bot_pwd_alpha: 'node', bot_active_pwd: 'active' }, '/plugin_tevio?action=info&node=alpha&pwd=page', 'page'],
    ['node=alpha', { bot_pwd_alpha: 'node', bot_active_pwd: 'active' }, '/plugin_tevio?action=info&node=alpha&pwd=node', 'node'],
    ['node=alpha', { bot_active_pwd: 'active' }, '/plugin_tevio?action=info&node=alpha&pwd=active', 'active'],
    ['node=alpha', { bot_pwd_alpha: '', bot_active_pwd: 'active' }, '/plugin_tevio?action=info&node=alpha&pwd=active', 'active'],
    ['', { bot_pwd_: 'bare', bot_active_pwd: 'active' }, '/plugin_tevio?action=info&pwd=active', 'active'],
    ['', { bot_pwd_: 'bare' }, '/plugin_tevio?action=info', undefined],
    ['node=&pwd=', { bot_pwd_: 'bare' }, '/plugin_tevio?action=info', undefined],
    ['pwd=a+b', {}, '/plugin_tevio?action=info&pwd=a%20b', 'a b'],
    ['pwd=x%2By&pwd=second', {}, '/plugin_tevio?action=info&pwd=x%2By', 'x+y'],
    ['node=a%26b&id=7', { 'bot_pwd_a&b': 'k' }, '/plugin_tevio?action=info&node=a%26b&id=7&pwd=k', 'k'],
    ['id=7&node=alpha', {}, '/plugin_tevio?action=info&node=alpha&id=7', undefined],
    // the hub name goes out as the page decoded it, not encoded again (no such plugin: offline)
    ['plugin=a%2Bb%2Fc', {}, '/plugins?plugin=a+b/c&action=info', undefined],
  ];
  for (const [query, storage, url, header] of cases) {
    test(`?${query} with ${JSON.stringify(storage)}`, () =>
      withPage(`/plugin_tevio?${query}`, { storage }, async ({ page, requests }) => {
        await settled(page);
        assert.deepEqual(requests, [{ url, header }]);
        const served = url.startsWith('/plugin_tevio?') || url.startsWith('/plugins?plugin=tevio&');
        assert.equal(await text(page, 'badge'), served ? 'live' : 'offline');
      }));
  }
});

describe('echo', () => {
  // [page query, typed text (undefined keeps the page's greeting), key, expected request, msg, len]
  const cases = [
    ['node=alpha&id=7', 'hi', 'click', '/plugin_tevio?action=echo&msg=hi&node=alpha&id=7', 'hi', 2],
    ['', 'a b&c', 'click', '/plugin_tevio?action=echo&msg=a%20b%26c', 'a b&c', 5],
    ['', '', 'click', '/plugin_tevio?action=echo&msg=', '', 0],
    ['', '\u00e9', 'enter', '/plugin_tevio?action=echo&msg=%C3%A9', '\u00e9', 2],
    ['plugin=tevio&pwd=p', 'x+y', 'enter', '/plugins?plugin=tevio&action=echo&msg=x%2By&pwd=p', 'x+y', 3],
    ['', undefined, 'click'],
  ];
  for (let [query, message, key, url, msg, len] of cases) {
    test(`${JSON.stringify(message)} by ${key} from ?${query}`, () =>
      withPage(`/plugin_tevio?${query}`, {}, async ({ page, requests }) => {
        await settled(page);
        if (message === undefined) {
          msg = await page.inputValue('#msg');
          [url, len] = [`/plugin_tevio?action=echo&msg=${encodeURIComponent(msg)}`, Buffer.byteLength(msg)];
          assert.ok(len > 0, 'the page offers a greeting');
        }
        const raw = await text(page, 'raw');
        const shown = await echo(page, message, key);
        assert.equal(requests[1].url, url);
        assert.equal(shown, JSON.stringify({ ok: true, action: 'echo', msg, len }, null, 2));
        assert.equal(await text(page, 'raw'), raw, 'an echo leaves the raw block alone');
      }));
  }

  test('a failed echo shows the error and leaves badge and tiles alone', () =>
    withPage('/plugin_tevio', {}, async ({ page }) => {
      await settled(page);
      const shownTiles = await tiles(page);
      for (const [response, kind] of [['abort', 'TypeError'], [{ status: 200, contentType: 'text/html', body: '<p>no</p>' }, 'SyntaxError']]) {
        await page.unrouteAll();
        await page.route((url) => url.searchParams.get('action') === 'echo', (route) =>
          response === 'abort' ? route.abort('failed') : route.fulfill(response));
        assert.ok((await echo(page, `try ${kind}`)).startsWith(`error: ${kind}: `), kind);
        assert.equal(await text(page, 'badge'), 'live');
        assert.deepEqual(await tiles(page), shownTiles);
      }
    }));
});

describe('answers and failures', () => {
  const refusal = { ok: false, error: 'invalid node password' };
  // [response, badge, raw (exact, or a prefix ending in ": "), tiles]
  const cases = [
    ['abort', 'offline', 'error: TypeError: ', [DASH, DASH, DASH, DASH, DASH]],
    [{ status: 200, contentType: 'text/html', body: '<!DOCTYPE html><p>hello</p>' }, 'offline', 'error: SyntaxError: ', [DASH, DASH, DASH, DASH, DASH]],
    [{ status: 200, contentType: 'application/json', body: '' }, 'offline', 'error: SyntaxError: ', [DASH, DASH, DASH, DASH, DASH]],
    [json(null), 'offline', 'error: TypeError: ', [DASH, DASH, DASH, DASH, DASH]],
    [json(refusal, 401), 'live', JSON.stringify(refusal, null, 2), [DASH, '? / ?', DASH, DASH, DASH]],
    [json({ ok: false, error: 'boom' }, 500), 'live', JSON.stringify({ ok: false, error: 'boom' }, null, 2), [DASH, '? / ?', DASH, DASH, DASH]],
    [json({ node: { hostname: 'box', os: 'windows', arch: 'x86_64', libc: 'native', pid: 0, utc: '1970-01-01T00:00:00Z' } }), 'live', null,
      ['box', 'windows / x86_64', 'native', '0', '1970-01-01T00:00:00Z']],
    [json({ node: { os: 'linux', arch: '', libc: '', pid: null } }), 'live', null, [DASH, 'linux / ?', DASH, DASH, DASH]],
    [json({ node: { arch: 'arm64', hostname: 7 } }), 'live', null, ['7', '? / arm64', DASH, DASH, DASH]],
  ];
  for (const [response, badge, raw, expected] of cases) {
    const name = response === 'abort' ? 'no response' : `${response.status} ${response.body.slice(0, 60)}`;
    test(name, () =>
      withPage('/plugin_tevio', { before: answerInfo(response) }, async ({ page }) => {
        await settled(page);
        const state = await badgeState(page);
        assert.equal(state.text, badge);
        assert.equal(state.inline, badge === 'live' ? 'var(--accent2)' : 'var(--danger)');
        assert.equal(state.followsToken, true);
        const shown = await text(page, 'raw');
        if (raw === null) assert.equal(shown, JSON.stringify(JSON.parse(response.body), null, 2));
        else if (raw.endsWith(': ')) assert.ok(shown.startsWith(raw) && shown.length > raw.length, shown);
        else assert.equal(shown, raw);
        assert.deepEqual(await tiles(page), expected);
      }));
  }

  test('a failed refresh keeps the tiles of the last good one', () =>
    withPage('/plugin_tevio', {}, async ({ page }) => {
      await settled(page);
      const good = await tiles(page);
      assert.equal(good[0], os.hostname());
      await answerInfo('abort')(page);
      await page.click('#reloadBtn');
      await page.waitForFunction(() => document.getElementById('badge').textContent === 'offline');
      assert.deepEqual(await tiles(page), good);
      assert.match(await text(page, 'raw'), /^error: TypeError: /);
      // and Refresh recovers once answers come back
      await page.unrouteAll();
      await page.click('#reloadBtn');
      await page.waitForFunction(() => document.getElementById('badge').textContent === 'live');
    }));

  test('hostile texts are shown as text, never run as markup', () =>
    withPage('/plugin_tevio', {
      before: answerInfo(json({ node: { hostname: "<img src=x onerror='window.hit=1'>", os: '"><b>', arch: '&amp;', utc: '</pre><script>window.hit=2</script>' } })),
    }, async ({ page }) => {
      await settled(page);
      assert.deepEqual((await tiles(page)).filter((_, i) => i !== 2 && i !== 3),
        ["<img src=x onerror='window.hit=1'>", '"><b> / &amp;', '</pre><script>window.hit=2</script>']);
      await page.unrouteAll();
      const message = `<b id='inj'>"quoted"</b> &lt; <img src=x onerror=window.hit=3>`;
      assert.equal(JSON.parse(await echo(page, message)).msg, message);
      assert.deepEqual(await page.evaluate(() => [
        document.querySelectorAll('img, b, #inj').length, document.querySelectorAll('script').length, typeof window.hit,
      ]), [0, 1, 'undefined']);
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
      withPage('/plugin_tevio', { scheme, storage: stored === undefined ? undefined : { bot_theme: stored } }, async ({ page }) => {
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
    withPage('/plugin_tevio', { scheme: 'dark' }, async ({ page }) => {
      assert.deepEqual(await theme(page), ['dark', null]);
      await page.emulateMedia({ colorScheme: 'light' });
      assert.deepEqual(await theme(page), ['dark', null], 'an open page does not follow the preference');
      await page.reload();
      assert.deepEqual(await theme(page), ['light', null]);
    }));
});
