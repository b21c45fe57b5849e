#!/usr/bin/env node
// Screenshots of the plugin page for the docs: docs/screenshot-dark.png and
// docs/screenshot-light.png, the page as the stand-in host serves it from the built plugin, live
// tiles included. Needs `make` first and Chromium at /usr/bin/chromium (or $CHROMIUM).
//
//   node tools/screenshots.js [OUTPUT_DIR]
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { launchChromium, startHost, openPage, settled } = require('./browser.js');

const WIDTH = 900;

async function main() {
  const outputDir = path.resolve(process.argv[2] || path.join(__dirname, '..', 'docs'));
  fs.mkdirSync(outputDir, { recursive: true });
  const [browser, host] = await Promise.all([launchChromium(), startHost()]);
  try {
    for (const theme of ['dark', 'light']) {
      const { context, page } = await openPage(browser, host.url, '/plugin_tevio', {
        viewport: { width: WIDTH, height: 600 },
        scheme: theme,
      });
      try {
        await settled(page);
        const file = path.join(outputDir, `screenshot-${theme}.png`);
        await page.screenshot({ path: file, fullPage: true });
        console.log(`${path.relative(process.cwd(), file)}: ${fs.statSync(file).size} bytes, badge ${await page.locator('#badge').textContent()}`);
      } finally {
        await context.close();
      }
    }
  } finally {
    await Promise.all([browser.close(), host.close()]);
  }
}

main().catch((error) => {
  console.error(`screenshots.js: ${error.message}`);
  process.exit(1);
});
