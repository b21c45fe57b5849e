'use strict';
// One check of a plugin: makes every run that the chosen rules judge (each once, side by side,
// with the runs that other hosts' answers are held against made twice), then judges them rule by
// rule, then runs the rules that need the plugin to themselves (a real server, the timing).
const { RUNS } = require('./requests');
const { runDirect } = require('./direct');
const { runHostile } = require('./hostile');
const { replayLine } = require('./show');
const { awake } = require('../plugin/run');
const { startError } = require('./program');

// Runs at once: SIDE_BY_SIDE awake, and more while some of them sleep (on a pipe, a timer, or for
// ever, costing nothing), up to MOST_AT_ONCE plugins alive, so that a plugin that hangs on every
// run is checked in a few time limits, not in one for every eighth run, and an interpreter that
// takes the CPU to start is never started so many times at once that it cannot start within the
// limit. A run whose plugin has ended counts no more, though a process it left may hold its
// output to the limit: a plugin that leaves one on every run is checked in one time limit.
const SIDE_BY_SIDE = 8;
const MOST_AT_ONCE = 48;
const LOOK_MS = 100;

// Calls `work(item, ended)` on each item, as wide as above; `work` calls `ended` once the plugin's
// own process has ended. Resolves when all are done.
function inPool(items, work) {
  return new Promise((resolve) => {
    let next = 0;
    let pending = 0;
    let alive = 0;
    const look = setInterval(() => fill(), LOOK_MS);
    const fill = () => {
      let busy = alive < SIDE_BY_SIDE ? alive : awake();
      while (next < items.length && alive < MOST_AT_ONCE && busy < SIDE_BY_SIDE) {
        pending++;
        alive++;
        busy++;
        let over = false;
        const ended = () => {
          if (over) return;
          over = true;
          alive--;
          fill();
        };
        work(items[next++], ended).then(() => {
          ended();
          pending--;
          fill();
        });
      }
      if (next === items.length && pending === 0) {
        clearInterval(look);
        resolve();
      }
    };
    fill();
  });
}

// The runs that `rules` need, and how many times each is made.
function plan(rules) {
  const times = new Map();
  const want = (name, count) => times.set(name, Math.max(times.get(name) || 0, count));
  for (const run of RUNS) {
    if (!rules.some((rule) => rule.applies && rule.applies(run))) continue;
    want(run.name, run.reference ? 2 : 1);
    if (run.of) want(run.of, 2);
  }
  // A rule's `needs` are direct runs it holds other answers against: made twice.
  for (const rule of rules) for (const name of rule.needs || []) want(name, 2);
  return RUNS.filter((run) => times.has(run.name)).map((run) => ({ run, times: times.get(run.name) }));
}

// Judges `rule` on every run it applies to; returns its findings and how many runs it judged.
function judgeRuns(rule, results, context) {
  const findings = [];
  let judged = 0;
  for (const run of RUNS) {
    if (!rule.applies(run) || !results.has(run.name)) continue;
    const [result] = results.get(run.name);
    if (result.error || (result.timedOut && !rule.timeouts)) continue;
    judged++;
    const finding = rule.judge(result, run, context);
    if (finding) findings.push({ run: run.title, ...finding, replay: replayLine(context.plugin, run, rule.id) });
  }
  return { findings, judged };
}

// The status a rule's outcome gives: a must-rule's findings fail the check, a should-rule's warn
// (fail when `strict`, or when the outcome is a `verdict` the author asked for); a rule that judged
// nothing is skipped; `info` is a report, no verdict.
function statusOf(rule, outcome, strict) {
  if (outcome.skip) return 'skip';
  if (outcome.findings.length > 0) return rule.level === 'must' || strict || outcome.verdict ? 'fail' : 'warn';
  return outcome.info ? 'info' : 'pass';
}

// Checks `plugin` against `rules`; resolves to { results: per rule, runs, problems }. `problems`
// are what makes a check say nothing: a plugin that could not be started, or answered nothing.
async function check(plugin, rules, { directory, limitMs, strict = false, maxCost = null }) {
  const results = new Map();
  const jobs = plan(rules).flatMap(({ run, times }) => Array.from({ length: times }, () => run));
  await inPool(jobs, async (run, ended) => {
    const options = { directory, limitMs, ended };
    const result = run.host ? await runHostile(plugin, run, options) : await runDirect(plugin, run, options);
    if (!results.has(run.name)) results.set(run.name, []);
    results.get(run.name).push(result);
  });
  const context = {
    plugin,
    results,
    directory,
    limitMs,
    limitSeconds: limitMs / 1000,
    maxCost,
    // The answers (collected) of the direct runs of `name` that ended within the limit.
    references: (name) => (results.get(name) || []).filter((result) => !result.timedOut && result.output).map((result) => result.output),
  };

  const problems = [];
  const started = [...results.values()].flat();
  const unstarted = started.find((result) => result.error);
  if (unstarted) problems.push(`the plugin could not be started: ${startError(unstarted.error)}`);
  // A plugin that never started as the host starts it is said to be so once, not once a rule.
  const directs = plan(rules).filter(({ run }) => !run.host).flatMap(({ run }) => results.get(run.name));
  if (unstarted && directs.every((result) => result.error)) return { results: [], runs: jobs.length, problems };
  if (directs.length > 0 && directs.every((result) => !result.stdout || result.stdout.length === 0))
    problems.push(`the plugin wrote nothing on standard output in any of its ${directs.length} direct runs`);

  const outcomes = [];
  for (const rule of rules) {
    const begin = Date.now();
    let outcome;
    if (rule.evaluate) outcome = await rule.evaluate(context);
    else {
      const { findings, judged } = judgeRuns(rule, results, context);
      outcome = judged ? { findings } : { findings, skip: 'no run it judges could be judged: each was cut off at the time limit or did not start' };
    }
    outcome = { findings: [], notes: [], ...outcome };
    outcomes.push({ id: rule.id, level: rule.level, title: rule.title, status: statusOf(rule, outcome, strict), ...outcome, seconds: (Date.now() - begin) / 1000 });
  }
  if (!problems.length && outcomes.every((outcome) => outcome.status === 'skip')) problems.push('no rule could be judged');
  return { results: outcomes, runs: jobs.length, problems };
}

module.exports = { check, plan };
