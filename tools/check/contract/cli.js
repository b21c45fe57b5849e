'use strict';
// The command: reads the options, makes sure there is a plugin to check, checks it, prints the
// report and gives the exit status: 0 when every must-rule passed, 1 when one failed or nothing
// could be checked, 2 for a wrong option or argument.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { CONTRACT_VERSION, CHECKER_VERSION } = require('./versions');
const { check } = require('./engine');
const RULES = require('./rules');

const FORMATS = { text: require('./report/text'), json: require('./report/json'), junit: require('./report/junit'), tap: require('./report/tap') };

// The command's own name: tools/check/contract.js, or the one file dist/ has.
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

class UsageError extends Error {}

function parse(argv) {
  const options = { format: 'text', strict: false, maxCost: null, timeout: 10, rules: [], list: false, plugin: null };
  const value = (i, name) => {
    if (i + 1 >= argv.length) throw new UsageError(`${name} needs a value`);
    return argv[i + 1];
  };
  const positive = (text, name) => {
    const number = Number(text);
    if (!(number > 0) || !Number.isFinite(number)) throw new UsageError(`${name} takes a positive number, not ${JSON.stringify(text)}`);
    return number;
  };
  for (let i = 0; i < argv.length; i++) {
    const word = argv[i];
    if (word === '-h' || word === '--help') return { help: true };
    else if (word === '--format') options.format = value(i++, word);
    else if (word === '--strict') options.strict = true;
    else if (word === '--max-cost') options.maxCost = positive(value(i++, word), word);
    else if (word === '--timeout') options.timeout = positive(value(i++, word), word);
    else if (word === '--rule') options.rules.push(value(i++, word));
    else if (word === '--list') options.list = true;
    else if (word === '--') {
      if (i + 2 !== argv.length) throw new UsageError('one PLUGIN after --');
      options.plugin = argv[++i];
    } else if (word.startsWith('-') && word !== '-') throw new UsageError(`unknown option ${word}`);
    else if (options.plugin !== null) throw new UsageError(`one PLUGIN only, not also ${word}`);
    else options.plugin = word;
  }
  if (!FORMATS[options.format]) throw new UsageError(`--format is text, json, junit or tap, not ${JSON.stringify(options.format)}`);
  if (options.plugin === null && !options.list) throw new UsageError('which PLUGIN to check?');
  const unknown = options.rules.filter((id) => !RULES.some((rule) => rule.id === id || rule.id.startsWith(id + '.')));
  if (unknown.length) throw new UsageError(`no rule ${unknown.join(', ')} (--list lists them)`);
  return options;
}

// Why `file` cannot be checked, or null.
function unfit(file) {
  let stat;
  try {
    stat = fs.statSync(file);
  } catch {
    return `${file}: no such file`;
  }
  if (!stat.isFile()) return `${file}: not a file`;
  try {
    fs.accessSync(file, fs.constants.X_OK);
  } catch {
    return `${file}: not executable (chmod +x ${file})`;
  }
  return null;
}

function summarize(results) {
  const count = (status) => results.filter((result) => result.status === status).length;
  return { passed: count('pass'), failed: count('fail'), warned: count('warn'), skipped: count('skip'), info: count('info') };
}

async function main(argv) {
  let options;
  try {
    options = parse(argv);
  } catch (error) {
    if (!(error instanceof UsageError)) throw error;
    process.stderr.write(`contract: ${error.message}\n${USAGE}`);
    return 2;
  }
  if (options.help) {
    process.stdout.write(USAGE);
    return 0;
  }
  if (options.list) {
    for (const rule of RULES) process.stdout.write(`${rule.id.padEnd(24)} ${rule.level.padEnd(6)} ${rule.title}\n`);
    return 0;
  }
  const why = unfit(options.plugin);
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
