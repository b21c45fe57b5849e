#!/usr/bin/env node
// Screenshots of the plugin page for the docs: docs/screenshot-dark.png and
// docs/screenshot-light.png, the page as the stand-in host serves it from the built plugin, live
// tiles included; and docs/screenshot-build-error.png, the host's front page while the source does
// not build. Needs `make` first and Chromium at /usr/bin/chromium (or $CHROMIUM).
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { command } = require('../cli.js');

const USAGE = `usage: make screenshots
   or: tools/author/screenshots.js [OUTPUT_DIR]
Retakes the pictures of the page, dark and light, and of the front page while the source does not
build, into OUTPUT_DIR (docs/ by default), from the built plugin, with Chromium.`;
const { positionals: [outputArgument], fail } = command('screenshots', USAGE, { positionals: ['OUTPUT_DIR?'] });
const { launchChromium, startHost, openPage, settled } = require('./browser.js');
const { PROGRAM, copyForBuild } = require('../plugin/checkout.js');

const WIDTH = 900;
const REPOSITORY = path.join(__dirname, '..', '..');
// The mistake the build-error picture shows: a statement without its semicolon.
const SYNTAX_ERROR = '\nstatic int answer() { return 42 }\n';

async function main() {
  const outputDir = path.resolve(outputArgument || path.join(REPOSITORY, 'docs'));
  fs.mkdirSync(outputDir, { recursive: true });
  const [browser, host] = await Promise.all([launchChromium(), startHost()]);
  try {
    for (const theme of ['dark', 'light']) {
      const { context, page } = await openPage(browser, host.url, `/${PROGRAM}`, {
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
    await buildErrorScreenshot(browser, outputDir, REPOSITORY);
  } finally {
    await Promise.all([browser.close(), host.close()]);
  }
}

// What an author sees while the source does not build: the front page of a stand-in host that
// watches a copy of `repository` whose C++ source has a syntax error, in OUTPUT_DIR as
// screenshot-build-error.png.
async function buildErrorScreenshot(browser, outputDir, repository) {
  const copy = copyForBuild(repository);
  let host = null;
  try {
    const source = fs.readdirSync(path.join(copy, 'src')).find((name) => /^plugin_\w+\.cpp$/.test(name));
    fs.appendFileSync(path.join(copy, 'src', source), SYNTAX_ERROR);
    host = await startHost({ plugins: copy, watch: copy });
    const { context, page } = await openPage(browser, host.url, '/', { viewport: { width: WIDTH, height: 600 }, scheme: 'dark' });
    try {
      await page.locator('#build-error').waitFor();
      const file = path.join(outputDir, 'screenshot-build-error.png');
      await page.screenshot({ path: file, fullPage: true });
      console.log(`${path.relative(process.cwd(), file)}: ${fs.statSync(file).size} bytes, ${await page.locator('#build-error h2').textContent()}`);
    } finally {
      await context.close();
    }
  } finally {
    await host?.close();
    fs.rmSync(copy, { recursive: true, force: true });
  }
}

main().catch((error) => fail(error.message));
