// The stand-in host's front page in a real browser: the plugins it lists, escaped, each with its
// page embedded, and the node password it stores for them.
'use strict';

const { describe, test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { browserSession, PLUGIN_DIR } = require('../../tools/browser.js');

// A fake plugin whose meta record holds markup, beside the real one.
const FAKE = `#!${process.execPath}
process.stdout.write(JSON.stringify({ name: "<b>fake</b> & 'co'", desc: '"quoted" <script>window.hit=1</script>' }) + '\\n');
`;
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tevio-front-'));
fs.writeFileSync(path.join(dir, 'plugin_fake'), FAKE, { mode: 0o755 });
fs.symlinkSync(path.join(PLUGIN_DIR, 'plugin_tevio'), path.join(dir, 'plugin_tevio'));
after(() => fs.rmSync(dir, { recursive: true, force: true }));

const { withPage } = browserSession({ before, after }, { plugins: dir });

describe('front page', () => {
  test('lists each plugin from its meta record, escaped, with its page embedded', () =>
    withPage('/', {}, async ({ page }) => {
      const sections = await page.$$eval('section h2', (headings) => headings.map((h) => [h.textContent, h.nextElementSibling.textContent]));
      // the real plugin is listed by what its own meta record says
      const meta = JSON.parse(spawnSync(path.join(PLUGIN_DIR, 'plugin_tevio'), ['--meta'], { encoding: 'utf8' }).stdout);
      assert.deepEqual(sections.map(([name]) => name), ["<b>fake</b> & 'co'", meta.name]);
      assert.ok(sections[0][1].startsWith('"quoted" <script>window.hit=1</script>'));
      assert.ok(sections[1][1].startsWith(meta.desc));
      assert.deepEqual(await page.evaluate(() => [document.querySelectorAll('b, main script').length, typeof window.hit]), [0, 'undefined']);
      const frame = page.frameLocator('#plugin-tevio iframe');
      await frame.locator('#badge').filter({ hasText: 'live' }).waitFor();
      assert.equal(await frame.locator('.top').count(), 1, 'embedded without the back bar');
      // a node name given on the front page stores the password under it and reaches the page
      await page.fill('#node', 'alpha');
      await page.fill('#pwd', 'k');
      await page.click('#save');
      assert.deepEqual(await page.evaluate(() => [localStorage.getItem('bot_pwd_alpha'), localStorage.getItem('bot_active_pwd')]), ['k', 'k']);
      await frame.locator('#raw').filter({ hasText: '"query_string": "plugin=tevio&action=info&node=alpha&pwd=k"' }).waitFor();
    }));
});
