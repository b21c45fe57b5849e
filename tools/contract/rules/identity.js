'use strict';
// How the host lists a plugin and asks its version: runs that are not HTTP requests, answered
// with one line and exit status 0, whatever the node password.
const { came } = require('./judging');

const utf8 = new TextDecoder('utf-8', { fatal: true });

// The one line of `result`'s output without its line feed, or null when the output is not one
// line of UTF-8 ended by a line feed.
function oneLine(result) {
  const out = result.stdout;
  if (!out || out.indexOf(0x0a) !== out.length - 1) return null;
  try {
    return utf8.decode(out.subarray(0, -1));
  } catch {
    return null;
  }
}

const META_RECORD = 'one line of JSON, an object with string "name" and "desc", then a line feed; exit 0';

function judgeMeta(result) {
  const line = oneLine(result);
  let record = null;
  try {
    record = line === null ? null : JSON.parse(line);
  } catch {
    // Not JSON: told below.
  }
  const fits = record && typeof record === 'object' && typeof record.name === 'string' && typeof record.desc === 'string';
  if (fits && result.code === 0) return null;
  return { expected: META_RECORD, came: came(result) };
}

const VERSION_LINE = 'one line of text (the version), then a line feed; exit 0';
function judgeVersion(result) {
  const line = oneLine(result);
  if (line !== null && line.trim() !== '' && !/[\x00-\x08\x0b-\x1f\x7f]/.test(line) && result.code === 0) return null;
  return { expected: VERSION_LINE, came: came(result) };
}

module.exports = [
  {
    id: 'meta.argument',
    level: 'must',
    title: 'first argument --meta: the meta record',
    applies: (run) => run.mode === 'meta' && !run.environment && !run.ungated,
    judge: judgeMeta,
  },
  {
    id: 'meta.environment',
    level: 'must',
    title: 'DV_PLUGIN_META set, even empty: the meta record, over any argument and request',
    applies: (run) => run.mode === 'meta' && run.environment && !run.ungated,
    judge: judgeMeta,
  },
  {
    id: 'meta.ungated',
    level: 'must',
    title: 'the meta record never asks for the node password',
    applies: (run) => run.mode === 'meta' && run.ungated,
    judge: judgeMeta,
  },
  {
    id: 'version.line',
    level: 'must',
    title: 'first argument --version or -v: the version line',
    applies: (run) => run.mode === 'version' && !run.ungated,
    judge: judgeVersion,
  },
  {
    id: 'version.ungated',
    level: 'must',
    title: 'the version line never asks for the node password',
    applies: (run) => run.mode === 'version' && run.ungated,
    judge: judgeVersion,
  },
  {
    id: 'version.number',
    level: 'should',
    title: 'the version line is a version number, as 1.4.0',
    applies: (run) => run.name === 'version',
    judge(result) {
      const line = oneLine(result);
      if (line !== null && /^v?\d+(\.\d+)+([-+~][0-9A-Za-z.+~-]*)?$/.test(line)) return null;
      return { expected: 'a number of dot-separated parts, as 1.4.0 or 2.0.1-rc1', came: came(result) };
    },
  },
];
