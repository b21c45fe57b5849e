'use strict';
// What the rules share: one reading of each answer, and the words for what came.
const { readAnswer, contentType, jsonBody, isJsonType, isHtmlType } = require('../answer');
const { showBytes, showText } = require('../show');

const readings = new WeakMap();
// The answer of a run's result, read once however many rules judge it.
function answerOf(result) {
  if (!readings.has(result)) readings.set(result, readAnswer(result.stdout || Buffer.alloc(0)));
  return readings.get(result);
}

const seconds = (ms) => `${(ms / 1000).toFixed(2)} s`;

// How a run ended, in words: "exit 0", "killed by SIGSEGV", and at the time limit what was still
// going: the plugin itself, or a process it left holding its output after it had exited.
function ending(result) {
  const leftover = result.left
    ? '; a process that had left its process group (setsid, a daemon) still held the output, and was no longer waited for'
    : '';
  if (result.limit === 'running') return `still running at the time limit: killed with every process it started${leftover}`;
  if (result.limit === 'held') {
    const own = result.signal ? `killed by ${result.signal}` : `exit ${result.code}`;
    const fate = result.left ? 'it had left the process group (setsid, a daemon): not killed, no longer waited for' : 'killed with the process group';
    return `the plugin ended (${own}) after ${seconds(result.ms)}, but a process it left behind held its output open to the time limit: ${fate}`;
  }
  if (result.signal) return `killed by ${result.signal}`;
  return `exit ${result.code}`;
}

// What came from a run: its standard output shown safely, and how it ended.
const came = (result, output = result.output) =>
  `${showBytes(output ? output.bytes : Buffer.alloc(0), undefined, output ? output.length : 0)}, ${ending(result)}`;

// The JSON value of an answer's body, read once: { value } or { problem, cut }, or { unread } for
// a body longer than the bytes kept of it.
const bodies = new WeakMap();
function jsonOf(result) {
  if (!bodies.has(result)) {
    const { body } = answerOf(result);
    bodies.set(result, result.output && body.length < result.output.bodyLength ? { unread: true } : jsonBody(body));
  }
  return bodies.get(result);
}

// The ordinary HTTP requests, each answered directly; the hostile inputs have rules of their own.
const isHttp = (run) => run.mode === 'http' && !run.host && !run.input;
const typeOf = (result) => contentType(answerOf(result));

// What is wrong with an answer that should be JSON, as { expected, came }, or null: it needs a
// JSON content type and a body of JSON. A body longer than the bytes kept of it is not read.
function notJson(result) {
  const type = typeOf(result);
  if (!isJsonType(type)) return { expected: 'Content-Type: application/json', came: `Content-Type: ${type === undefined ? '(none)' : showText(type)}` };
  const json = jsonOf(result);
  if (json.problem) return { expected: 'a body of JSON', came: `${json.problem}: ${showBytes(answerOf(result).body)}` };
  return null;
}

// The same for the page: an HTML content type and a body.
function notHtml(result) {
  const type = typeOf(result);
  if (!isHtmlType(type)) return { expected: 'Content-Type: text/html', came: `Content-Type: ${type === undefined ? '(none)' : showText(type)}` };
  if (answerOf(result).body.length === 0) return { expected: 'a body: the page', came: 'an empty body' };
  return null;
}

module.exports = { answerOf, ending, came, jsonOf, isHttp, typeOf, notJson, notHtml };
