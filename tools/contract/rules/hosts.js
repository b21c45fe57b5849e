'use strict';
// Hostile hosts: the whole answer or a non-zero exit, never a short answer with exit 0. Where no
// reader is left (standard output closed, the reader gone) nobody can receive the answer, so any
// exit status will do, but the plugin must end on its own, and not by a crash.
const { sameAnswer } = require('../answer');
const { ending, came } = require('./judging');

const CRASHES = new Set(['SIGSEGV', 'SIGBUS', 'SIGABRT', 'SIGILL', 'SIGFPE', 'SIGSYS', 'SIGTRAP']);
const under = (...hosts) => (run) => hosts.includes(run.host);

// With no reader: an end within the limit, by an exit or by SIGPIPE. An output held open by a
// process the plugin left, after the plugin itself ended, is proc.time-limit's to report.
function endsAlone(result, run, { limitSeconds }) {
  if (result.limit === 'held' || (!result.timedOut && !CRASHES.has(result.signal))) return null;
  return { expected: `an end within ${limitSeconds} s, any exit status or SIGPIPE`, came: ending(result) };
}

// The answers a plain pipe gave to the same request: the direct runs, and the one made right after
// this run, so that an answer that changes with the time is held against one of its own time.
const plainAnswers = (result, run, context) => [...context.references(run.of), ...(result.plain ? [result.plain] : [])];
const whole = (result, run, context) => result.received && sameAnswer(plainAnswers(result, run, context), result.received);
const wholeLength = (result, run, context) => plainAnswers(result, run, context)[0].length;

// With a reader that stays: what it received is the whole answer, or the exit status is not 0.
// Without a direct answer to hold it against (the direct run timed out, which proc.time-limit
// reports) only the exit is judged.
function wholeOrFailure(result, run, context) {
  if (result.timedOut) return endsAlone(result, run, context);
  if (result.code !== 0 || plainAnswers(result, run, context).length === 0 || whole(result, run, context)) return null;
  return {
    expected: `the whole answer (${wholeLength(result, run, context)} bytes, as a direct run gives it) or a non-zero exit`,
    came: came(result, result.received),
  };
}

module.exports = [
  {
    id: 'host.closed-stdout',
    level: 'must',
    title: 'with standard output closed the plugin still ends, and does not crash',
    applies: under('closed'),
    timeouts: true,
    judge: endsAlone,
  },
  {
    id: 'host.reader-leaves',
    level: 'must',
    title: 'a reader gone before the first byte, or leaving while the plugin waits: the plugin ends',
    applies: under('gone', 'leaves'),
    timeouts: true,
    judge: endsAlone,
  },
  {
    id: 'host.nonblocking',
    level: 'must',
    title: 'a non-blocking standard output on a full pipe: the whole answer or a non-zero exit',
    applies: under('nonblocking', 'nonblocking-room'),
    timeouts: true,
    judge: wholeOrFailure,
  },
  {
    id: 'host.slow-reader',
    level: 'must',
    title: 'a slow reader on a full pipe: the whole answer or a non-zero exit',
    applies: under('slow'),
    timeouts: true,
    judge: wholeOrFailure,
  },
  {
    id: 'host.full-device',
    level: 'must',
    title: 'an answer that cannot be written (a full device) ends with a non-zero exit',
    applies: under('full'),
    timeouts: true,
    judge(result, run, context) {
      if (result.timedOut) return endsAlone(result, run, context);
      return result.code === 0 ? { expected: 'a non-zero exit: nothing reached the reader', came: ending(result) } : null;
    },
  },
  {
    id: 'host.nonblocking-waits',
    level: 'should',
    title: 'on a full non-blocking standard output the plugin waits and delivers the whole answer',
    applies: under('nonblocking', 'nonblocking-room'),
    judge(result, run, context) {
      if (plainAnswers(result, run, context).length === 0 || whole(result, run, context)) return null;
      return { expected: `the whole answer (${wholeLength(result, run, context)} bytes)`, came: came(result, result.received) };
    },
  },
];
