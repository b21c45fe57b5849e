'use strict';
// What a request costs: the plugin's time per request as a multiple of the floor's, the plainest
// program of the plugin's kind that writes the same bytes (floor.js), for the page and a JSON
// answer. A figure, not a verdict, unless --max-cost asks for one: then a ratio above it fails.
const { measure } = require('../floor');
const { RUNS } = require('../requests');
const { checkerFor } = require('../show');

const TIMED = [
  ['page', 'the page'],
  ['json-info', 'a JSON answer (action=info)'],
];

module.exports = [
  {
    id: 'cost.floor',
    level: 'should',
    title: 'time per request, as a multiple of a floor of the same kind writing the same bytes',
    needs: TIMED.map(([name]) => name),
    async evaluate({ plugin, results, directory, maxCost }) {
      const notes = [];
      const findings = [];
      const measurements = {};
      for (const [name, what] of TIMED) {
        const [result] = results.get(name) || [];
        if (!result || result.timedOut || !result.output || result.output.length === 0) {
          notes.push(`${what}: not timed, as the plugin gave no answer to it`);
          continue;
        }
        let figures;
        try {
          figures = measure(plugin, RUNS.find((run) => run.name === name), result.output, { directory, name });
        } catch (error) {
          return { skip: error.message };
        }
        measurements[name] = figures;
        const { pluginMs, floorMs, ratio, rounds, bytes } = figures;
        notes.push(`${what}: ${pluginMs.toFixed(3)} ms a request, ${ratio.toFixed(2)} x the floor's ${floorMs.toFixed(3)} ms (${bytes} bytes, median of ${rounds} runs each)`);
        if (maxCost !== null && ratio > maxCost)
          findings.push({ run: what, expected: `at most ${maxCost} x the floor`, came: `${ratio.toFixed(2)} x`, replay: checkerFor(plugin, 'cost.floor', ['--max-cost', String(maxCost)]) });
      }
      if (Object.keys(measurements).length === 0) return { skip: 'the plugin gave no answer to time', notes };
      const floor = Object.values(measurements)[0].floor;
      notes.push(`the floor: ${floor}; ${maxCost === null ? 'no verdict (--max-cost RATIO, or MAX_COST=, asks for one)' : `verdict: at most ${maxCost} x`}`);
      // Asked for, the verdict is the author's: a ratio above it fails, strict or not.
      return { findings, notes, measurements, info: maxCost === null, verdict: maxCost !== null };
    },
  },
];
