'use strict';
// A reporter for node --test that writes what tools/run-tests shows of a run, as one JSON document:
//   { passed, skipped, failed, failures: [{ name, file, line, message }] }
// The counts are of tests that have no tests of their own (a group passes or fails with them).
// A failure keeps its message whole, with where it failed; a group that failed only because a
// test in it did is not a failure of its own. A test file that ends badly outside any test (it
// exits early, or throws while loading) is a failure with what the file wrote to stderr.
const path = require('node:path');

// Where in the test files an error was raised: the first frame of its stack outside node itself
// and outside node_modules.
function whereRaised(error) {
  for (const line of String(error?.stack ?? '').split('\n')) {
    const frame = line.match(/\(?((?:\/|file:\/\/)[^():]+):(\d+):\d+\)?$/);
    if (frame && !frame[1].includes('/node_modules/')) return `${path.relative(process.cwd(), frame[1].replace(/^file:\/\//, ''))}:${frame[2]}`;
  }
  return null;
}

// The whole of what went wrong: an assertion's message (which holds its diff), or any other
// error's stack (which holds its message).
function describe(error) {
  const cause = error?.cause ?? error;
  if (cause?.code === 'ERR_ASSERTION' || !cause?.stack) return String(cause?.message ?? cause);
  return cause.stack.replace(/^\s+at (?:.* \()?node:.*\n?/gm, '').trimEnd();
}

module.exports = async function* summary(source) {
  const counts = { passed: 0, skipped: 0, failed: 0 };
  const failures = [];
  const open = new Map(); // per file, the tests started and not yet ended: { name, parent }
  const stderr = new Map(); // per file, what it wrote to stderr

  for await (const { type, data } of source) {
    if (type === 'test:stderr') stderr.set(data.file, (stderr.get(data.file) ?? '') + data.message);
    if (type === 'test:start') {
      const stack = open.get(data.file) ?? [];
      stack.length = data.nesting;
      if (data.nesting > 0 && stack[data.nesting - 1]) stack[data.nesting - 1].parent = true;
      stack.push({ name: data.name, parent: false });
      open.set(data.file, stack);
    }
    if (type !== 'test:pass' && type !== 'test:fail') continue;

    const file = data.file ? path.relative(process.cwd(), data.file) : '';
    const error = data.details?.error;
    // The test that stands for a whole file, when the file ends badly outside any test.
    if (data.nesting === 0 && data.name === data.file) {
      if (type === 'test:fail' && error?.failureType !== 'subtestsFailed') {
        counts.failed++;
        const ended = error?.signal ? `was ended by ${error.signal}` : `exited with status ${error?.exitCode}`;
        const written = stderr.get(data.file) ?? '';
        failures.push({ name: 'the test file', file, line: null, message: `the file ${ended}:\n${written}`.trim() });
      }
      continue;
    }
    const stack = open.get(data.file) ?? [];
    const names = stack.slice(0, data.nesting).map((test) => test.name);
    const parent = stack[data.nesting]?.parent ?? false;
    stack.length = data.nesting;
    if (type === 'test:fail' && error?.failureType !== 'subtestsFailed') {
      counts.failed++;
      failures.push({
        name: [...names, data.name].join(' > '),
        file,
        line: whereRaised(error?.cause) ?? (data.line ? `${file}:${data.line}` : null),
        message: describe(error),
      });
    } else if (type === 'test:pass' && !parent) {
      if (data.skip !== undefined || data.todo !== undefined) counts.skipped++;
      else counts.passed++;
    }
  }
  yield JSON.stringify({ ...counts, failures }) + '\n';
};
