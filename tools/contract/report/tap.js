'use strict';
// The report as TAP version 13: one test point per rule. A should-rule's warning is a TODO point
// (not ok, and not counted as a failure), a skipped rule a SKIP point; the findings follow each
// point as a YAML block.
const yamlText = (text) => JSON.stringify(String(text));

function format(report) {
  const lines = ['TAP version 13', `1..${report.results.length}`];
  report.results.forEach((result, i) => {
    const ok = result.status === 'pass' || result.status === 'skip' || result.status === 'info';
    let directive = '';
    if (result.status === 'skip') directive = ` # SKIP ${result.skip}`;
    if (result.status === 'warn') directive = ' # TODO should-rule: a warning';
    lines.push(`${ok ? 'ok' : 'not ok'} ${i + 1} - ${result.id}: ${result.title}${directive}`);
    if (result.findings.length || result.notes.length) {
      lines.push('  ---', `  level: ${result.level}`);
      if (result.notes.length) lines.push('  notes:', ...result.notes.map((note) => `    - ${yamlText(note)}`));
      if (result.findings.length) lines.push('  failures:');
      for (const finding of result.findings)
        Object.entries(finding).forEach(([key, value], at) => lines.push(`    ${at === 0 ? '-' : ' '} ${key}: ${yamlText(value)}`));
      lines.push('  ...');
    }
  });
  for (const problem of report.problems) lines.push(`Bail out! ${problem}`);
  return lines.join('\n') + '\n';
}

module.exports = { format };
