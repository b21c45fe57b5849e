'use strict';
// Reading an answer as the host reads it: CGI header lines "Name: value" each ended by CRLF, an
// empty line, then the body. The reading never throws: what does not fit is listed in `problems`
// for the framing rules to report, and the rest of the answer is read as far as it goes.
const TOKEN = /^[!#$%&'*+.^_`|~0-9A-Za-z-]+$/;
const MOST_HEADER_LINES = 100;

// Returns { headers: [{ name, value }], problems, ended, body, status, statusLines }: `problems`
// are texts on the header lines, `ended` says whether an empty line (CRLF) closed the block, and
// `endProblem` why not. `status` is the Status line's code (200 without one, NaN if unreadable).
function readAnswer(bytes) {
  const reading = { headers: [], problems: [], ended: false, endProblem: null, body: Buffer.alloc(0), status: 200, statusLines: [] };
  let at = 0;
  while (at < bytes.length && reading.headers.length < MOST_HEADER_LINES) {
    const end = bytes.indexOf(0x0a, at);
    if (end < 0) {
      reading.endProblem = `no empty line: ${reading.headers.length ? 'the answer ends inside a line' : 'the answer has no line feed at all'}`;
      return reading;
    }
    const crlf = end > at && bytes[end - 1] === 0x0d;
    const line = bytes.subarray(at, crlf ? end - 1 : end).toString('latin1');
    at = end + 1;
    if (line === '') {
      if (reading.headers.length === 0) reading.problems.push('the answer opens with an empty line, not a header line');
      if (!crlf) reading.endProblem = 'the empty line is a bare line feed, not CRLF';
      reading.ended = crlf;
      reading.body = bytes.subarray(at);
      break;
    }
    const colon = line.indexOf(':');
    const name = colon > 0 ? line.slice(0, colon) : '';
    if (!TOKEN.test(name)) {
      reading.problems.push(`not a header line "Name: value": ${JSON.stringify(line.slice(0, 60))}`);
      reading.endProblem = 'no empty line after the header lines';
      return reading;
    }
    if (!crlf) reading.problems.push(`the header line ${JSON.stringify(line.slice(0, 60))} ends in a bare line feed, not CRLF`);
    const value = line.slice(colon + 1).replace(/^[ \t]+|[ \t]+$/g, '');
    reading.headers.push({ name, value });
    if (name.toLowerCase() === 'status') reading.statusLines.push(value);
  }
  if (!reading.ended && !reading.endProblem)
    reading.endProblem = at >= bytes.length ? 'the answer ends before an empty line' : `more than ${MOST_HEADER_LINES} header lines`;
  const code = /^(\d{3})(?: .*)?$/.exec(reading.statusLines[0] || '');
  if (code) reading.status = Number(code[1]);
  else if (reading.statusLines.length) reading.status = NaN;
  return reading;
}

// The values of header `name`, any case.
const headerValues = (reading, name) =>
  reading.headers.filter((header) => header.name.toLowerCase() === name.toLowerCase()).map((header) => header.value);

// The media type of a Content-Type value, lower-case, without parameters ('' when there is none).
const mediaType = (value = '') => value.split(';')[0].trim().toLowerCase();
const contentType = (reading) => headerValues(reading, 'content-type')[0];

const utf8 = new TextDecoder('utf-8', { fatal: true });
// The body as a JSON value: { value } or { problem }.
function jsonBody(body) {
  let text;
  try {
    text = utf8.decode(body);
  } catch {
    return { problem: 'the body is not UTF-8' };
  }
  try {
    return { value: JSON.parse(text) };
  } catch (error) {
    return { problem: `the body is not JSON (${error.message})` };
  }
}

const isJsonType = (value) => mediaType(value) === 'application/json';
const isHtmlType = (value) => mediaType(value) === 'text/html';

// Whether `got` is the whole of the answer that the direct runs in `references` gave. An answer
// that two direct runs give byte for byte must come the same; one that changes from run to run
// (a time, a process id) must have the same header block and a body no shorter than the shortest
// seen, less 64 bytes, and, when it was JSON, still be JSON with the same members.
function sameAnswer(references, got) {
  if (references.some((reference) => reference.equals(got))) return true;
  if (references.every((reference) => reference.equals(references[0]))) return false;
  const [first] = references.map(readAnswer);
  const mine = readAnswer(got);
  const block = (reading) => reading.headers.map((h) => `${h.name}: ${h.value}`).join('\n');
  if (!mine.ended || block(mine) !== block(first)) return false;
  const shortest = Math.min(...references.map((reference) => readAnswer(reference).body.length));
  if (mine.body.length < shortest - 64) return false;
  const theirs = jsonBody(first.body);
  if (theirs.problem) return true;
  const ours = jsonBody(mine.body);
  return !ours.problem && membersOf(ours.value) === membersOf(theirs.value);
}
const membersOf = (value) => (value && typeof value === 'object' ? Object.keys(value).join(',') : typeof value);

module.exports = { readAnswer, headerValues, contentType, mediaType, jsonBody, isJsonType, isHtmlType, sameAnswer };
