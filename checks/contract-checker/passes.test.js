'use strict';
// Correct plugins pass: the small one in Python with no warning either (this repository's own
// builds are held to the checker in checks/contract/host.test.js). The JSON report is one document with a result for every rule; the
// JUnit report names a test case for every rule.
const test = require('node:test');
const assert = require('node:assert/strict');
const { checker, plugin, resultOf } = require('./checker');

const RULE_IDS = require('../../tools/contract/rules').map((rule) => rule.id);

test('the correct Python plugin passes every rule, and the JSON report holds them all', async () => {
  const { status, report, stderr } = await checker(['--format', 'json', plugin('correct.py')]);
  assert.deepEqual(report.results.map((result) => result.id), RULE_IDS);
  const unwell = report.results.filter((result) => !['pass', 'info', 'skip'].includes(result.status));
  assert.deepEqual(unwell.map((result) => [result.id, result.findings[0]]), []);
  // Skipped only where this machine lacks what a rule needs.
  for (const result of report.results.filter((r) => r.status === 'skip')) assert.match(result.skip, /not installed|no C compiler/);
  assert.equal(report.verdict, 'pass');
  assert.equal(status, 0, stderr);
  const cost = resultOf(report, 'cost.floor');
  if (cost.status === 'info') assert.ok(cost.measurements.page.ratio > 0 && cost.measurements['json-info'].ratio > 0, JSON.stringify(cost));
});

test('the JUnit report names a test case for every rule, and a failure says what was expected', async () => {
  const { status, stdout } = await checker(['--format', 'junit', plugin('no-gate.sh')]);
  assert.equal(status, 1);
  const names = [...stdout.matchAll(/<testcase classname="[^"]+" name="([^"]+)"/g)].map((match) => match[1]);
  assert.deepEqual(names.map((name) => name.split(':')[0]), RULE_IDS);
  assert.ok(names.every((name) => /^[a-z-]+\.[a-z-]+: \S/.test(name)), names.join('\n'));
  const refusal = stdout.slice(stdout.indexOf('name="gate.refusal:'));
  assert.match(refusal.slice(0, refusal.indexOf('</testcase>')), /<failure message="gate.refusal: expected Status: 401[^"]*" type="must">[^<]*replay: env -i/);
  assert.match(stdout, /<testsuites name="plugin contract \d+\.\d+" tests="\d+" failures="[1-9]\d*"/);
});

test('whole answers are not taken for short ones', { concurrency: 2 }, async (t) => {
  // [plugin, what its answers are, the rules that read them through another host]
  const table = [
    ['live.sh', 'answers and a header that change from run to run', ['host.slow-reader', 'cgi.lighttpd']],
    ['big-answer.sh', 'a page longer than the checker keeps of an answer', ['host.nonblocking', 'cgi.lighttpd']],
  ];
  await Promise.all(
    table.map(([name, what, rules]) =>
      t.test(what, async () => {
        const { status, report } = await checker(['--format', 'json', ...rules.flatMap((rule) => ['--rule', rule]), plugin(name)]);
        const judged = report.results.filter((result) => result.status !== 'skip');
        assert.deepEqual(judged.map((result) => [result.id, result.status, result.findings[0]]), judged.map((result) => [result.id, 'pass', undefined]));
        assert.equal(status, 0);
      }),
    ),
  );
});

test('a should-rule broken warns and passes, and fails with --strict', async () => {
  const args = ['--format', 'json', '--rule', 'header.no-store', '--rule', 'dispatch.json', plugin('live.sh')];
  const [lenient, strict] = await Promise.all([checker(args), checker(['--strict', ...args])]);
  assert.deepEqual([lenient.status, resultOf(lenient.report, 'header.no-store').status, resultOf(lenient.report, 'dispatch.json').status], [0, 'warn', 'pass']);
  assert.deepEqual([strict.status, resultOf(strict.report, 'header.no-store').status], [1, 'fail']);
  assert.match(resultOf(lenient.report, 'header.no-store').findings[0].came, /no Cache-Control header/);
});
