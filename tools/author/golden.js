#!/usr/bin/env node
'use strict';
// Rewrites the golden answers in test/golden/ from a build, one file per question every plugin is
// asked and per row of test/golden.js, removes files that no row names, and prints what changed.
// Run as `make golden`, which builds first; read the diff before you commit it.
//
// It runs the native build, and writes the files every build shares and the native build's own.
// With PLUGIN_CMD (and tools/runner/with-wine, which sets it for the Windows build) it runs that build and
// writes only the files of the rows that name it in their perBuild: the shared files come from the
// native build, and where another build differs from them it says so and ends non-zero.
//
// While a merge is under way (make update), it stages test/golden/ as it leaves it: the answers of
// the merged plugin are part of the merge's commit, and `git commit` takes them with the rest.
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { command } = require('../cli.js');

const USAGE = `usage: make golden
   or: [PLUGIN_CMD='command of another build'] tools/author/golden.js
Rewrites test/golden/ from the build (the native one, or PLUGIN_CMD's) and prints what changed.`;
command('golden', USAGE);
process.chdir(path.join(__dirname, '..', '..'));
const { commandLine } = require('../plugin/under-test.js');
const golden = require('./golden-answers.js');
const { REQUESTS, TABLE, build, buildWord, fileOf, defaultBuild, goldenCommand, answer, read, write, orphans, diff } = golden;

const say = (line) => console.log(line);
const relative = (file) => path.relative(process.cwd(), file);
say(`golden answers of the ${build().join(' ')} build, ${commandLine.join(' ')}`);

let changed = 0;
let problems = 0;
for (const request of REQUESTS) {
  const file = fileOf(request);
  const word = buildWord(request);
  let after;
  try {
    after = answer(request);
  } catch (error) {
    say(`${relative(file)}: not written: ${error.message}`);
    problems++;
    continue;
  }
  const before = read(file);
  if (before === after) continue;
  if (word === undefined && !defaultBuild()) {
    say(`${relative(file)}: not written, this build answers otherwise (- golden, + this build):\n${diff(before ?? '', after)}`);
    say(`  if it does on purpose, add perBuild: ['${build()[0]}'] to the row '${request.name}' in ${TABLE} and run this again;`);
    say('  the files every build shares are written by make golden');
    problems++;
    continue;
  }
  write(file, after);
  changed++;
  say(before === null ? `${relative(file)}: new` : `${relative(file)}: changed\n${diff(before, after)}\n`);
}
for (const file of orphans()) {
  fs.rmSync(path.join('test/golden', file));
  changed++;
  say(`test/golden/${file}: removed, no row names it`);
}
// The other builds' own files, which this run cannot write.
for (const request of REQUESTS)
  for (const word of request.perBuild ?? [])
    if (word !== buildWord(request))
      say(`test/golden/${request.name}.${word}.txt: the ${word} build's own answer; write it with ${goldenCommand(word)}`);
const git = (...args) => spawnSync('git', args, { encoding: 'utf8' });
const counted = changed === 0 ? 'all unchanged' : `${changed} rewritten`;
if (git('rev-parse', '-q', '--verify', 'MERGE_HEAD').status === 0) {
  git('add', '-A', '--', 'test/golden');
  say(`golden answers: ${counted}, and staged for the merge under way; git diff --cached HEAD -- test/golden/ shows all it changes in them`);
} else say(changed === 0 ? `golden answers: ${counted}` : `golden answers: ${counted}; review them with git diff test/golden/`);
process.exitCode = problems === 0 ? 0 : 1;
