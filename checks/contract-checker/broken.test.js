'use strict';
// Each broken plugin is caught for the rule it breaks, and only for what it breaks: a rule next to
// it, which the plugin keeps, passes. The check exits 1, and each failure says what was expected,
// what came and how to replay it.
const test = require('node:test');
const assert = require('node:assert/strict');
const { execSync } = require('node:child_process');
const { checker, plugin, resultOf } = require('./checker');

// [plugin, the rule it breaks, a rule it keeps, the time limit of a run in seconds, the rules of its
// group it keeps too]
const TABLE = [
  ['meta-gated.sh', 'meta.ungated', 'meta.argument'],
  ['lf-lines.py', 'frame.header-lines', 'dispatch.json'],
  ['bad-status.sh', 'frame.status', 'frame.content-type'],
  ['page-for-json.sh', 'dispatch.json', 'dispatch.html'],
  ['no-gate.sh', 'gate.refusal', 'gate.open'],
  ['gate-prefix.py', 'gate.wrong', 'gate.header'],
  ['gate-no-bearer.py', 'gate.bearer', 'gate.header'],
  ['gate-raw-pwd.py', 'gate.pwd', 'gate.header'],
  ['reads-stdin.sh', 'proc.stdin', 'frame.header-lines'],
  ['exit-1.sh', 'proc.exit', 'frame.empty-line'],
  ['hangs-on-json.sh', 'proc.time-limit', 'dispatch.html', 2],
  ['dies-on-bad-percent.js', 'input.answer', 'dispatch.json', 10, 'input'],
  ['echoes-unescaped.sh', 'input.json', 'dispatch.json', 10, 'input'],
  ['cuts-at-128-bytes.sh', 'input.whole', 'dispatch.json', 10, 'input'],
  ['content-length.sh', 'input.whole', 'dispatch.html'],
  ['retries-forever.sh', 'host.closed-stdout', 'proc.exit', 2],
  ['drops-on-full-pipe.py', 'host.nonblocking', 'dispatch.html'],
  ['ignores-write-errors.sh', 'host.full-device', 'proc.exit'],
  ['content-length.sh', 'cgi.lighttpd', 'dispatch.html'],
];

// No byte that a terminal would take for a control byte, nor any above 0x7E, stands raw in what came.
const RAW = /[\x00-\x1f\x7f-\uffff]/;

test('each broken plugin fails the rule it breaks and passes the ones it keeps', { concurrency: 3 }, async (t) => {
  const rows = TABLE.map(([name, broken, kept, limit = 10, group]) =>
    t.test(`${name}: ${broken}`, async (row) => {
      const rules = [broken, kept, ...(group ? [group] : [])].flatMap((rule) => ['--rule', rule]);
      const { status, report } = await checker(['--format', 'json', '--timeout', String(limit), ...rules, plugin(name)]);
      const failed = resultOf(report, broken);
      if (failed.status === 'skip' && broken === 'cgi.lighttpd') return row.skip(failed.skip);
      assert.equal(failed.status, 'fail', `${broken}: ${JSON.stringify(failed)}`);
      const others = report.results.filter((result) => result.id !== broken);
      assert.deepEqual(others.map((result) => [result.id, result.status, result.findings[0]]), others.map((result) => [result.id, 'pass', undefined]));
      assert.equal(status, 1);
      for (const finding of failed.findings) {
        for (const part of ['run', 'expected', 'came', 'replay']) assert.ok(finding[part], `${part} missing in ${JSON.stringify(finding)}`);
        assert.ok(!RAW.test(finding.came), `a byte shown raw: ${JSON.stringify(finding.came)}`);
      }
    }),
  );
  await Promise.all(rows);
});

test('a process the plugin leaves holding its output is given up at the limit, and named', async () => {
  const begin = Date.now();
  const { report } = await checker(['--format', 'json', '--timeout', '2', '--rule', 'proc.time-limit', plugin('leaves-a-daemon.sh')]);
  const seconds = (Date.now() - begin) / 1000;
  const { status, findings } = resultOf(report, 'proc.time-limit');
  assert.equal(status, 'fail');
  // Within the limit and a second on an idle machine; the daemon lives 12 s, and was waited for.
  assert.ok(seconds < 8, `the check took ${seconds} s with a limit of 2 s`);
  assert.match(findings[0].came, /^the plugin ended \(exit 0\) after [\d.]+ s, but a process it left behind held its output open to the time limit: it had left the process group \(setsid/);
  assert.match(findings[0].replay, /\| \{ cat; echo "\[the answer ended\]"; \}$/);
});

// What a replay line prints for a finding: the bytes its `came` shows ("nothing" for none), then
// the exit status it names.
function printed(came) {
  const quoted = /"((?:[^"\\]|\\.)*)"/.exec(came);
  const bytes = quoted ? JSON.parse(`"${quoted[1].replace(/\\x([0-9a-f]{2})/g, '\\u00$1')}"`) : '';
  return `${bytes}[exit ${/exit (\d+)$/.exec(came)[1]}]\n`;
}

test('replay lines repeat the failures in the shell', async (t) => {
  // [plugin, rule]; the second's failures come of bytes that are not text and a lone %, which
  // the replay line makes with printf.
  const table = [
    ['no-gate.sh', 'gate.refusal'],
    ['dies-on-bad-percent.js', 'input.answer'],
  ];
  for (const [name, rule] of table)
    await t.test(name, async () => {
      const { report } = await checker(['--format', 'json', '--rule', rule, plugin(name)]);
      const { findings } = resultOf(report, rule);
      assert.ok(findings.length > 1);
      for (const { replay, came } of findings)
        assert.equal(execSync(replay, { shell: '/bin/sh', encoding: 'latin1', stdio: ['ignore', 'pipe', 'ignore'] }), printed(came), replay);
    });
});
