'use strict';
// The process around every direct run: it ends within the time limit, exits 0 after an answer,
// reads nothing from standard input and says nothing on standard error.
const { showBytes } = require('../show');
const { ending, came } = require('./judging');

const direct = (run) => !run.host;

module.exports = [
  {
    id: 'proc.time-limit',
    level: 'must',
    title: 'every run ends within the time limit',
    applies: direct,
    timeouts: true, // judged on runs cut off at the limit, which every other rule leaves out
    judge: (result, run, { limitSeconds }) =>
      result.timedOut ? { expected: `an end within ${limitSeconds} s, the output closed`, came: `${ending(result)}; written: ${showBytes(result.stdout || '', undefined, result.output?.length)}` } : null,
  },
  {
    id: 'proc.exit',
    level: 'must',
    title: 'an HTTP request ends with exit status 0 after its answer',
    applies: (run) => direct(run) && run.mode === 'http' && !run.input,
    judge: (result) => (result.code === 0 ? null : { expected: 'exit 0', came: came(result) }),
  },
  {
    id: 'proc.stdin',
    level: 'must',
    title: 'nothing is read from standard input',
    applies: direct,
    judge: (result) => (result.stdinRead === 0 ? null : { expected: 'standard input left unread', came: `${result.stdinRead} bytes of it read` }),
  },
  {
    id: 'proc.stderr',
    level: 'should',
    title: 'nothing is written on standard error',
    applies: direct,
    judge: (result) => (result.stderr.length === 0 ? null : { expected: 'nothing on standard error', came: showBytes(result.stderr) }),
  },
];
