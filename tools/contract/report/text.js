'use strict';
// The report for a person: one line per rule, and under each failure or warning what was
// expected, what came and the line that replays it, for the first few runs.
const SHOWN_FINDINGS = 3;
const MARK = { pass: 'pass', fail: 'FAIL', warn: 'warn', skip: 'skip', info: 'info' };

function format(report) {
  const lines = [`plugin contract ${report.contract} (checker ${report.checker}): ${report.plugin}`];
  const width = Math.max(...report.results.map((result) => result.id.length));
  for (const result of report.results) {
    const said = result.skip ? `skipped: ${result.skip}` : result.title;
    lines.push(`  ${MARK[result.status]}  ${result.id.padEnd(width)}  ${result.level === 'should' ? '(should) ' : ''}${said}`);
    for (const note of result.notes) lines.push(`        ${note}`);
    for (const finding of result.findings.slice(0, SHOWN_FINDINGS)) {
      if (finding.run) lines.push(`        run:      ${finding.run}`);
      lines.push(`        expected: ${finding.expected}`, `        came:     ${finding.came}`);
      if (finding.replay) lines.push(`        replay:   ${finding.replay}`);
    }
    const more = result.findings.length - SHOWN_FINDINGS;
    if (more > 0) lines.push(`        ... and ${more} more run${more > 1 ? 's' : ''} (FORMAT=json lists them all)`);
  }
  const s = report.summary;
  lines.push(
    `${report.results.length} rules: ${s.passed} passed, ${s.failed} failed, ${s.warned} warned, ${s.skipped} skipped, ${s.info} measured; ` +
      `${report.runs} runs in ${report.seconds.toFixed(1)} s`,
  );
  for (const problem of report.problems) lines.push(`nothing checked: ${problem}`);
  lines.push(report.verdict === 'pass' ? 'PASS' : 'FAIL');
  return lines.join('\n') + '\n';
}

module.exports = { format };
