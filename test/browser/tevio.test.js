// tevio's own page in a real browser, served by the stand-in host from the built plugin: its cards
// and tiles, what it shows of each answer, the order of its two calls (info at start-up, echo when
// sent), its look as the browser computes it (theme colours, the tile grid, the narrow layout).
// These are tevio's reference, not what a page made from it must do (that is page.test.js and
// password.test.js in checks/browser/): named after tevio, this file is not in a fork, and a change
// to tevio's page changes it.
'use strict';

const { describe, test: nodeTest, before, after } = require('node:test');
const assert = require('node:assert/strict');
const os = require('node:os');
const { browserSession, settled, actionOf } = require('../../tools/author/browser.js');
const { NAME, PROGRAM } = require('../../checks/support/plugin');

// A failing check here says whose it is.
const OWN = "tevio's own page, not the contract (test/browser/tevio.test.js, which a fork does not have)";
function test(name, check) {
  return nodeTest(name, async (...args) => {
    try {
      await check(...args);
    } catch (error) {
      error.message = `${OWN}: ${error.message}`;
      throw error;
    }
  });
}

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
    withPage(`/${PROGRAM}`, {}, async ({ page }) => {
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
});

describe('echo', () => {
  // [page query, typed text (undefined keeps the page's greeting), key, expected request, msg, len]
  const cases = [
    ['node=alpha&id=7', 'hi', 'click', `/${PROGRAM}?action=echo&msg=hi&node=alpha&id=7`, 'hi', 2],
    ['', 'a b&c', 'click', `/${PROGRAM}?action=echo&msg=a%20b%26c`, 'a b&c', 5],
    ['', '', 'click', `/${PROGRAM}?action=echo&msg=`, '', 0],
    ['', '\u00e9', 'enter', `/${PROGRAM}?action=echo&msg=%C3%A9`, '\u00e9', 2],
    [`plugin=${NAME}&pwd=p`, 'x+y', 'enter', `/plugins?plugin=${NAME}&action=echo&msg=x%2By&pwd=p`, 'x+y', 3],
    ['', undefined, 'click'],
  ];
  for (let [query, message, key, url, msg, len] of cases) {
    test(`${JSON.stringify(message)} by ${key} from ?${query}`, () =>
      withPage(`/${PROGRAM}?${query}`, {}, async ({ page, requests }) => {
        await settled(page);
        if (message === undefined) {
          msg = await page.inputValue('#msg');
          [url, len] = [`/${PROGRAM}?action=echo&msg=${encodeURIComponent(msg)}`, Buffer.byteLength(msg)];
          assert.ok(len > 0, 'the page offers a greeting');
        }
        const raw = await text(page, 'raw');
        const shown = await echo(page, message, key);
        assert.deepEqual(requests.map((call) => actionOf(call.url)), ['info', 'echo'], 'info at start-up, then the echo');
        assert.equal(requests[1].url, url);
        assert.equal(shown, JSON.stringify({ ok: true, action: 'echo', msg, len }, null, 2));
        assert.equal(await text(page, 'raw'), raw, 'an echo leaves the raw block alone');
      }));
  }

  test('a failed echo shows the error in its own block and leaves badge and tiles alone', () =>
    withPage(`/${PROGRAM}`, {}, async ({ page }) => {
      await settled(page);
      const shownTiles = await tiles(page);
      await page.route((url) => url.searchParams.get('action') === 'echo', (route) => route.abort('failed'));
      assert.ok((await echo(page, 'try')).startsWith('error: TypeError: '));
      assert.equal(await text(page, 'badge'), 'live');
      assert.deepEqual(await tiles(page), shownTiles);
    }));
});

describe('answers and failures', () => {
  const refusal = { ok: false, error: 'invalid node password' };
  // [response, badge, raw (exact, or a prefix ending in ": "), tiles]
  const cases = [
    [json(null), 'offline', 'error: TypeError: ', [DASH, DASH, DASH, DASH, DASH]],
    [json(refusal, 401), 'live', JSON.stringify(refusal, null, 2), [DASH, '? / ?', DASH, DASH, DASH]],
    [json({ ok: false, error: 'boom' }, 500), 'live', JSON.stringify({ ok: false, error: 'boom' }, null, 2), [DASH, '? / ?', DASH, DASH, DASH]],
    [json({ node: { hostname: 'box', os: 'windows', arch: 'x86_64', libc: 'native', pid: 0, utc: '1970-01-01T00:00:00Z' } }), 'live', null,
      ['box', 'windows / x86_64', 'native', '0', '1970-01-01T00:00:00Z']],
    [json({ node: { os: 'linux', arch: '', libc: '', pid: null } }), 'live', null, [DASH, 'linux / ?', DASH, DASH, DASH]],
    [json({ node: { arch: 'arm64', hostname: 7 } }), 'live', null, ['7', '? / arm64', DASH, DASH, DASH]],
  ];
  for (const [response, badge, raw, expected] of cases) {
    const name = `${response.status} ${response.body.slice(0, 60)}`;
    test(name, () =>
      withPage(`/${PROGRAM}`, { before: answerInfo(response) }, async ({ page }) => {
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
    withPage(`/${PROGRAM}`, {}, async ({ page }) => {
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

});

// With the root's data-theme set to `theme` (null: none), the computed colours of the themed
// surfaces and, beside them, the colours of the theme tokens they are meant to take. The tokens'
// values are the stylesheet's to choose; the surfaces must follow them.
const colours = (page, theme) => page.evaluate((value) => {
  const root = document.documentElement;
  if (value === null) root.removeAttribute('data-theme');
  else root.setAttribute('data-theme', value);
  const of = (selector) => getComputedStyle(document.querySelector(selector));
  const probe = document.body.appendChild(document.createElement('i'));
  const token = (name) => {
    if (getComputedStyle(root).getPropertyValue(name).trim() === '') return `${name} is not defined`;
    probe.style.color = `var(${name})`;
    return getComputedStyle(probe).color;
  };
  const shown = {
    background: of('body').backgroundColor,
    text: of('body').color,
    card: of('.card').backgroundColor,
    tile: of('.kpi').backgroundColor,
    muted: of('.card h2').color,
    line: of('.card').borderTopColor,
  };
  const tokens = {
    background: token('--bg'), text: token('--text'), card: token('--surface'),
    tile: token('--surface2'), muted: token('--muted'), line: token('--line'),
  };
  probe.remove();
  return { shown, tokens };
}, theme);

describe('theme colours', () => {
  test('as written, with scripts off, the page is dark and carries no data-theme', async () => {
    const context = await session.browser.newContext({ javaScriptEnabled: false, colorScheme: 'light' });
    try {
      const page = await context.newPage();
      await page.goto(new URL(`/${PROGRAM}`, session.host.url).href);
      assert.equal(await page.evaluate(() => document.documentElement.hasAttribute('data-theme')), false);
      assert.equal(await page.locator('#badge').textContent(), 'connecting');
    } finally {
      await context.close();
    }
  });

  test('each surface takes its token; only data-theme=light selects the light tokens', () =>
    withPage(`/${PROGRAM}`, {}, async ({ page }) => {
      const dark = await colours(page, null);
      assert.deepEqual(dark.shown, dark.tokens);
      for (const theme of ['dark', 'bogus', 'LIGHT']) assert.deepEqual(await colours(page, theme), dark, theme);
      const light = await colours(page, 'light');
      assert.deepEqual(light.shown, light.tokens);
      assert.notEqual(light.shown.background, dark.shown.background);
    }));
});

describe('layout by viewport width', () => {
  const measure = (page) => page.evaluate(() => {
    const px = (element, property) => getComputedStyle(element)[property];
    const tops = [...document.querySelectorAll('.kpi')].map((tile) => Math.round(tile.getBoundingClientRect().top));
    return {
      wrap: Math.round(document.querySelector('.wrap').getBoundingClientRect().width),
      grid: Math.round(document.querySelector('.grid').getBoundingClientRect().width),
      rows: new Set(tops).size,
      bodyPadding: px(document.body, 'paddingLeft'),
      cardPadding: px(document.querySelector('.card'), 'paddingLeft'),
    };
  });
  // [viewport width, wrap width, grid width, rows of tiles, body padding, card padding]
  const cases = [
    [1200, 880, 846, 1, '16px', '16px'],
    [912, 880, 846, 1, '16px', '16px'],
    [700, 668, 634, 2, '16px', '16px'],
    [521, 489, 455, 2, '16px', '16px'],
    [520, 500, 474, 2, '10px', '12px'],
    [360, 340, 314, 3, '10px', '12px'],
  ];
  for (const [width, wrap, grid, rows, bodyPadding, cardPadding] of cases) {
    test(`${width}px wide`, () =>
      withPage(`/${PROGRAM}`, { viewport: { width, height: 800 } }, async ({ page }) => {
        assert.deepEqual(await measure(page), { wrap, grid, rows, bodyPadding, cardPadding });
      }));
  }

  test('long values break inside their tile and long JSON wraps inside a bounded block', () =>
    withPage(`/${PROGRAM}`, {
      before: (page) => page.route((url) => url.searchParams.get('action') === 'info', (route) =>
        route.fulfill({ contentType: 'application/json', body: JSON.stringify({ node: { hostname: 'x'.repeat(300) }, filler: Array(60).fill('y'.repeat(200)) }) })),
    }, async ({ page }) => {
      await settled(page);
      const box = await page.evaluate(() => {
        const tile = document.getElementById('v-host').parentElement;
        const raw = document.getElementById('raw');
        return {
          tileFits: tile.scrollWidth <= tile.clientWidth,
          tileWidth: Math.round(tile.getBoundingClientRect().width),
          otherWidth: Math.round(document.getElementById('v-pid').parentElement.getBoundingClientRect().width),
          rawHeight: raw.getBoundingClientRect().height,
          rawScrolls: raw.scrollHeight > raw.clientHeight,
          rawFitsAcross: raw.scrollWidth <= raw.clientWidth,
        };
      });
      assert.deepEqual(box, {
        tileFits: true, tileWidth: box.otherWidth, otherWidth: box.otherWidth,
        rawHeight: 260, rawScrolls: true, rawFitsAcross: true,
      });
    }));
});
