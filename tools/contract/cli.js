'use strict';
// The command: reads the options, makes sure there is a plugin to check, checks it, prints the
// report and gives the exit status: 0 when every must-rule passed, 1 when one failed or nothing
// could be checked, 2 for a wrong option or argument.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { CONTRACT_VERSION, CHECKER_VERSION } = require('./versions');
const { check } = require('./engine');
const { unfit } = require('./program');
const { hostEnvironment, stopAll } = require('../plugin/run');
const RULES = require('./rules');
const { command } = require('../cli.js');

const FORMATS = { text: require('./report/text'), json: require('./report/json'), junit: require('./report/junit'), tap: require('./report/tap') };

// The command's own name: tools/contract/contract.js, or the one file dist/ has.
const SELF = path.basename(process.argv[1] || 'contract.js');
const USAGE = `usage: node ${SELF} [--format text|json|junit|tap] [--strict] [--max-cost RATIO]
         [--timeout SECONDS] [--rule ID]... [--list] PLUGIN
Checks the executable PLUGIN, in any language, against the host contract ${CONTRACT_VERSION}
(docs/contract.md): every must-rule, and every should-rule as a warning.
  --format FORM      the report: text (default), json, junit or tap, on standard output
  --strict           a should-rule that fails fails the check
  --max-cost RATIO   fail when a request costs more than RATIO times the floor's time
  --timeout SECONDS  the time limit of each run of the plugin (default 10)
  --rule ID          check only this rule, or a group of them ("gate"); may be repeated
  --list             list the rules and exit
Exit status: 0 every must-rule passed, 1 a rule failed or nothing could be checked, 2 usage.
`;

// The options, or ends the process as every command of the kit does: --help, a wrong option.
function parse(argv) {
  const { values, positionals, wrong } = command('contract', USAGE, {
    args: argv,
    positionals: ['PLUGIN?'],
    options: {
      format: { type: 'string', default: 'text' },
      strict: { type: 'boolean', default: false },
      'max-cost': { type: 'string' },
      timeout: { type: 'string', default: '10' },
      rule: { type: 'string', multiple: true, default: [] },
      list: { type: 'boolean', default: false },
    },
  });
  const positive = (text, name) => {
    const number = Number(text);
    if (!(number > 0) || !Number.isFinite(number)) wrong(`${name} takes a positive number, not ${JSON.stringify(text)}`);
    return number;
  };
  const options = {
    format: values.format, strict: values.strict, list: values.list, rules: values.rule, plugin: positionals[0] ?? null,
    maxCost: values['max-cost'] === undefined ? null : positive(values['max-cost'], '--max-cost'),
    timeout: positive(values.timeout, '--timeout'),
  };
  if (!FORMATS[options.format]) wrong(`--format is text, json, junit or tap, not ${JSON.stringify(options.format)}`);
  if (options.plugin === null && !options.list) wrong('which PLUGIN to check?');
  const unknown = options.rules.filter((id) => !RULES.some((rule) => rule.id === id || rule.id.startsWith(id + '.')));
  if (unknown.length) wrong(`no rule ${unknown.join(', ')} (--list lists them)`);
  return options;
}

function summarize(results) {
  const count = (status) => results.filter((result) => result.status === status).length;
  return { passed: count('pass'), failed: count('fail'), warned: count('warn'), skipped: count('skip'), info: count('info') };
}

async function main(argv) {
  // A checker that is stopped leaves no plugin behind.
  for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP'])
    process.on(signal, () => {
      stopAll();
      process.exit(130);
    });
  const options = parse(argv);
  if (options.list) {
    for (const rule of RULES) process.stdout.write(`${rule.id.padEnd(24)} ${rule.level.padEnd(6)} ${rule.title}\n`);
    return 0;
  }
  const why = unfit(options.plugin, hostEnvironment({}).PATH);
  if (why) {
    process.stderr.write(`contract: nothing checked: ${why}\n`);
    return 1;
  }
  const rules = options.rules.length ? RULES.filter((rule) => options.rules.some((id) => rule.id === id || rule.id.startsWith(id + '.'))) : RULES;
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'plugin-contract-'));
  const begin = Date.now();
  try {
    const plugin = path.resolve(options.plugin);
    const outcome = await check(plugin, rules, { directory, limitMs: options.timeout * 1000, strict: options.strict, maxCost: options.maxCost });
    const summary = summarize(outcome.results);
    const verdict = summary.failed === 0 && outcome.problems.length === 0 ? 'pass' : 'fail';
    const report = {
      contract: CONTRACT_VERSION,
      checker: CHECKER_VERSION,
      plugin: options.plugin,
      strict: options.strict,
      verdict,
      summary,
      seconds: (Date.now() - begin) / 1000,
      runs: outcome.runs,
      problems: outcome.problems,
      results: outcome.results,
    };
    process.stdout.write(FORMATS[options.format].format(report));
    for (const problem of outcome.problems) process.stderr.write(`contract: nothing checked: ${problem}\n`);
    return verdict === 'pass' ? 0 : 1;
  } finally {
    fs.rmSync(directory, { recursive: true, force: true });
  }
}

module.exports = { main };
