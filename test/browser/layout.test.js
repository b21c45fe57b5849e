// The page's look as the browser computes it: theme colours, the tile grid and the narrow layout.
'use strict';

const { describe, test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { browserSession, settled } = require('../../tools/browser.js');

const session = browserSession({ before, after });
const { withPage } = session;

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
      await page.goto(new URL('/plugin_tevio', session.host.url).href);
      assert.equal(await page.evaluate(() => document.documentElement.hasAttribute('data-theme')), false);
      assert.equal(await page.locator('#badge').textContent(), 'connecting');
    } finally {
      await context.close();
    }
  });

  test('each surface takes its token; only data-theme=light selects the light tokens', () =>
    withPage('/plugin_tevio', {}, async ({ page }) => {
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
      withPage('/plugin_tevio', { viewport: { width, height: 800 } }, async ({ page }) => {
        assert.deepEqual(await measure(page), { wrap, grid, rows, bodyPadding, cardPadding });
      }));
  }

  test('long values break inside their tile and long JSON wraps inside a bounded block', () =>
    withPage('/plugin_tevio', {
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
