'use strict';
// tevio's own page rules, beside its golden answers, which hold its exact bytes: the rules a change
// to the page must keep even when make golden has taken its new bytes (single quotes only, line
// breaks in few places, a script in plain ASCII, no theme as written); that the kit's files never
// name it; and its README's table of commands. They are tevio's, not a contract that a plugin made from it keeps: named after tevio,
// this file is not in a fork.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { REPOSITORY, run, HTML_HEADER } = require('../checks/support/plugin');

const page = run({ query: '' }).out;
const body = page.slice(HTML_HEADER.length);
const script = body.slice(body.indexOf('<script>\n'));
const outside = body.slice(0, body.length - script.length);

test('every piece of the page keeps the page rules', async (t) => {
  const cases = [
    ['no double quote anywhere', () => assert.equal(body.includes('"'), false)],
    ['line feeds only after the doctype, in the example block and in the script', () => {
      assert.equal(outside.split('\n').length - 1, 2);
      assert.ok(outside.startsWith('<!DOCTYPE html>\n'));
      assert.match(outside, /<pre>QUERY_STRING='action=info' [^\n<]+\nQUERY_STRING/);
    }],
    ['the script is plain ASCII, and the page ends with it', () => assert.match(script, /^<script>\n[\x09\x0a\x20-\x7e]*\n<\/script><\/body><\/html>\n$/)],
    ['the root element carries no theme as written', () => assert.match(body, /<html lang='en'><head>/)],
  ];
  for (const [name, check] of cases) await t.test(name, check);
});

// The kit's files (all but tevio's own: its source, page, checks, golden answers, README and
// pictures) say "the plugin" or read its name from src/plugin_NAME.cpp, so that a fork of any name
// takes them unchanged.
test('the kit\'s files never name tevio', () => {
  const own = ['README.md', 'src/plugin_*.cpp', 'src/page/**', 'test/**', 'docs/*.png'];
  const named = spawnSync('git', ['grep', '-Iin', '-e', 'tevio', '--', '.', ...own.map((pattern) => `:(exclude,glob)${pattern}`)],
    { cwd: REPOSITORY, encoding: 'utf8' }).stdout;
  assert.equal(named, '', `these files of the kit name tevio:\n${named}`);
});

// A fork's README is its own; tevio's shows every command as make help lists them, from the one
// list in the Makefile.
test('the README shows make help\'s list of commands as it is', () => {
  const help = spawnSync('make', ['-s', 'help'], { cwd: REPOSITORY, encoding: 'utf8' }).stdout;
  assert.match(help, /^make +builds /);
  assert.ok(fs.readFileSync(path.join(REPOSITORY, 'README.md'), 'utf8').includes(`\`\`\`text\n${help}\`\`\`\n`), `README.md does not show make help's list as it is:\n${help}`);
});
