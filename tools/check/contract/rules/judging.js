'use strict';
// What the rules share: one reading of each answer, and the words for what came.
const { readAnswer, contentType, jsonBody, isJsonType, isHtmlType } = require('../answer');
const { showBytes } = require('../show');

const readings = new WeakMap();
// The answer of a run's result, read once however many rules judge it.
function answerOf(result) {
  if (!readings.has(result)) readings.set(result, readAnswer(result.stdout || Buffer.alloc(0)));
  return readings.get(result);
}

// How a run ended, in words: "exit 0", "killed by SIGSEGV", "still running at the limit".
function ending(result) {
  if (result.timedOut) return 'still running at the time limit, killed';
  if (result.signal) return `killed by ${result.signal}`;
  return `exit ${result.code}`;
}

// What came from a run: its standard output shown safely, and how it ended.
const came = (result, bytes = result.stdout) => `${showBytes(bytes || Buffer.alloc(0))}, ${ending(result)}`;

// The JSON value of an answer's body, read once.
const bodies = new WeakMap();
function jsonOf(result) {
  if (!bodies.has(result)) bodies.set(result, jsonBody(answerOf(result).body));
  return bodies.get(result);
}

const isHttp = (run) => run.mode === 'http' && !run.host;
const typeOf = (result) => contentType(answerOf(result));

// What is wrong with an answer that should be JSON, as { expected, came }, or null: it needs a
// JSON content type and a body of JSON.
function notJson(result) {
  const type = typeOf(result);
  if (!isJsonType(type)) return { expected: 'Content-Type: application/json', came: `Content-Type: ${type ?? '(none)'}` };
  const json = jsonOf(result);
  if (json.problem) return { expected: 'a body of JSON', came: `${json.problem}: ${showBytes(answerOf(result).body)}` };
  return null;
}

// The same for the page: an HTML content type and a body.
function notHtml(result) {
  const type = typeOf(result);
  if (!isHtmlType(type)) return { expected: 'Content-Type: text/html', came: `Content-Type: ${type ?? '(none)'}` };
  if (answerOf(result).body.length === 0) return { expected: 'a body: the page', came: 'an empty body' };
  return null;
}

module.exports = { answerOf, ending, came, jsonOf, isHttp, typeOf, notJson, notHtml };
