'use strict';
// Conflict markers: the lines git leaves where both sides of a merge changed the same lines stop
// make, make golden, make test and make update, naming file and line; ordinary text that looks
// like them (a Markdown heading underlined with =, a line of < in a test) does not.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { REPOSITORY } = require('../support/plugin');
const { run, git } = require('../support/forks');

// Written here a piece at a time, so that this file holds no marker of its own.
const [OURS, BASE, SEPARATOR, THEIRS] = ['<', '|', '=', '>'].map((sign) => sign.repeat(7));
const block = (...lines) => `${lines.join('\n')}\n`;

test('the marker check tells git\'s conflicts from ordinary text, and names each marker line', async (t) => {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'markers-'));
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  git(folder, 'init', '-q');
  // [case, file, text, the lines it names]
  const table = [
    ['a Markdown heading underlined with =', 'README.md', block('plugin_x', SEPARATOR, '', 'Text.'), []],
    ['lines of < and = in a test', 'test/x.test.js', block('const rule = `', OURS, SEPARATOR, THEIRS, '`;'), []],
    ['a conflict with the base', 'src/a.cpp', block('a', `${OURS} HEAD:src/a.cpp`, 'b', `${BASE} 1a2b3c4:src/a.cpp`, 'c', SEPARATOR, 'd', `${THEIRS} 5d6e7f8:src/a.cpp`),
      [2, 4, 6, 8]],
    ['a conflict without it', 'src/page/b.html', block(`${OURS} HEAD`, 'b', SEPARATOR, 'd', `${THEIRS} 5d6e7f8`, SEPARATOR), [1, 3, 5]],
    ['a marker left alone', 'src/page/c.css', block('a{}', `${THEIRS} 5d6e7f8:src/page/c.css`), [2]],
  ];
  for (const [name, file, text, named] of table)
    await t.test(name, () => {
      fs.mkdirSync(path.join(folder, path.dirname(file)), { recursive: true });
      fs.writeFileSync(path.join(folder, file), text);
      git(folder, 'add', file);
      try {
        const checked = run(folder, path.join(REPOSITORY, 'tools/fork/markers'));
        const found = [...checked.stderr.matchAll(/^ {2}(.+?):(\d+):/gm)].map(([, where, line]) => `${where}:${line}`);
        assert.deepEqual([checked.status, found], [named.length > 0 ? 1 : 0, named.map((line) => `${file}:${line}`)], checked.stderr);
      } finally {
        git(folder, 'rm', '-q', '-f', file);
      }
    });
});

test('markers in the Makefile are named as such, before make reads them as rules', (t) => {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'markers-'));
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  const lines = fs.readFileSync(path.join(REPOSITORY, 'Makefile'), 'utf8').split('\n');
  const at = lines.findIndex((line) => line.startsWith('CXXFLAGS'));
  lines.splice(at, 1, `${OURS} HEAD:Makefile`, 'CXXFLAGS ?= -O3', SEPARATOR, lines[at], `${THEIRS} 5d6e7f8:Makefile`);
  fs.writeFileSync(path.join(folder, 'Makefile'), lines.join('\n'));
  const made = run(folder, 'make', 'help');
  assert.match(made.stderr, new RegExp(`conflict markers remain in the Makefile \\(Makefile:${at + 1} Makefile:${at + 5}\\)`));
  assert.notEqual(made.status, 0);
});
