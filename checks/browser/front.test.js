// The stand-in host's front page in a real browser: the plugins it lists, escaped, each with its
// page embedded, and the node password it stores for them.
'use strict';

const { describe, test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { browserSession, PLUGIN_DIR } = require('../../tools/author/browser.js');
const { NAME, PROGRAM } = require('../support/plugin');

// A fake plugin whose meta record holds markup, beside the real one; its name starts with a digit,
// which no plugin made from this kit's source can have.
const FAKE = `#!${process.execPath}
process.stdout.write(JSON.stringify({ name: "<b>fake</b> & 'co'", desc: '"quoted" <script>window.hit=1</script>' }) + '\\n');
`;
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'plugin-front-'));
fs.writeFileSync(path.join(dir, 'plugin_0fake'), FAKE, { mode: 0o755 });
fs.symlinkSync(path.join(PLUGIN_DIR, PROGRAM), path.join(dir, PROGRAM));
after(() => fs.rmSync(dir, { recursive: true, force: true }));

const { withPage } = browserSession({ before, after }, { plugins: dir });

describe('front page', () => {
  test('lists each plugin from its meta record, escaped, with its page embedded', () =>
    withPage('/', {}, async ({ page }) => {
      const sections = await page.$$eval('section h2', (headings) => headings.map((h) => [h.textContent, h.nextElementSibling.textContent]));
      // the real plugin is listed by what its own meta record says
      const meta = JSON.parse(spawnSync(path.join(PLUGIN_DIR, PROGRAM), ['--meta'], { encoding: 'utf8' }).stdout);
      const fake = "<b>fake</b> & 'co'";
      assert.deepEqual(sections.map(([name]) => name).sort(), [fake, meta.name].sort());
      const described = Object.fromEntries(sections);
      assert.ok(described[fake].startsWith('"quoted" <script>window.hit=1</script>'));
      assert.ok(described[meta.name].startsWith(meta.desc));
      assert.deepEqual(await page.evaluate(() => [document.querySelectorAll('b, main script').length, typeof window.hit]), [0, 'undefined']);
      const frame = page.frameLocator(`#plugin-${NAME} iframe`);
      await frame.locator('#badge').filter({ hasText: 'live' }).waitFor();
      assert.equal(await frame.locator('.top').count(), 1, 'embedded without the back bar');
      // a node name given on the front page stores the password under it and reaches the page
      await page.fill('#node', 'alpha');
      await page.fill('#pwd', 'k');
      await page.click('#save');
      assert.deepEqual(await page.evaluate(() => [localStorage.getItem('bot_pwd_alpha'), localStorage.getItem('bot_active_pwd')]), ['k', 'k']);
      await frame.locator('#raw').filter({ hasText: `"query_string": "plugin=${NAME}&action=info&node=alpha&pwd=k"` }).waitFor();
    }));
});
