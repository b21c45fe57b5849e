'use strict';
// The report as JUnit XML: one test case per rule, named by its id and title, in one suite named
// by the contract version. A failure holds every finding; a warning passes, with the findings in
// its system-out; a skipped rule says why.
const escape = (text) =>
  String(text).replace(/[<>&"]/g, (c) => ({ '<': '&lt;', '>': '&gt;', '&': '&amp;', '"': '&quot;' })[c]).replace(/[\x00-\x08\x0b\x0c\x0e-\x1f]/g, '');

const findingText = (finding) =>
  Object.entries(finding).map(([key, value]) => `${key}: ${value}`).join('\n');

function format(report) {
  const s = report.summary;
  const suite = `plugin contract ${report.contract}`;
  const cases = report.results.map((result) => {
    const open = `    <testcase classname="${escape(`contract.${result.id.split('.')[0]}`)}" name="${escape(`${result.id}: ${result.title}`)}" time="${result.seconds.toFixed(3)}">`;
    const details = escape([...result.notes, ...result.findings.map(findingText)].join('\n\n'));
    const first = result.findings[0];
    let body = '';
    if (result.status === 'fail')
      body = `      <failure message="${escape(`${result.id}: expected ${first.expected}`)}" type="${result.level}">${details}</failure>\n`;
    else if (result.status === 'skip') body = `      <skipped message="${escape(result.skip)}"/>\n`;
    else if (details) body = `      <system-out>${result.status === 'warn' ? 'warning (should-rule):\n' : ''}${details}</system-out>\n`;
    return body ? `${open}\n${body}    </testcase>` : open.replace(/>$/, '/>');
  });
  const problems = report.problems.map((problem) => `    <testcase classname="contract" name="the check ran"><error message="${escape(problem)}"/></testcase>`);
  const failed = s.failed;
  const errors = report.problems.length;
  return [
    '<?xml version="1.0" encoding="UTF-8"?>',
    `<testsuites name="${escape(suite)}" tests="${cases.length + errors}" failures="${failed}" errors="${errors}" skipped="${s.skipped}" time="${report.seconds.toFixed(3)}">`,
    `  <testsuite name="${escape(suite)}" tests="${cases.length + errors}" failures="${failed}" errors="${errors}" skipped="${s.skipped}" time="${report.seconds.toFixed(3)}">`,
    `    <properties><property name="plugin" value="${escape(report.plugin)}"/><property name="checker" value="${escape(report.checker)}"/></properties>`,
    ...cases,
    ...problems,
    '  </testsuite>',
    '</testsuites>',
    '',
  ].join('\n');
}

module.exports = { format };
