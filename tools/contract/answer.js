'use strict';
// The checker's reading of an answer: the host's reading (tools/plugin/answer.js), with what the
// framing rules report of it; its JSON body; and whether two runs gave the same answer.
//
// An answer is collected as it comes: its first KEPT bytes are kept to be read, and the whole of
// it is counted and digested, so that an answer of any length is compared with another byte for
// byte, never cut first.
const { createHash } = require('node:crypto');
const { showText } = require('./show');
const answers = require('../plugin/answer');

const KEPT = 16 * 1024 * 1024;
// The reading of tools/plugin/answer.js, with the lines it quotes escaped as every message is.
const readAnswer = (bytes) => answers.readAnswer(bytes, showText);
const { headerValues, contentType, mediaType } = answers;

// A JSON text is UTF-8 with no byte-order mark before it.
const utf8 = new TextDecoder('utf-8', { fatal: true, ignoreBOM: true });
// The body as a JSON value: { value } or { problem }, and `cut` when the body ends before the JSON
// text it opens does (a prefix of JSON: cut short, not written wrong).
function jsonBody(body) {
  let text;
  try {
    text = utf8.decode(body);
  } catch {
    return { problem: 'the body is not UTF-8' };
  }
  if (text.startsWith('\ufeff')) return { problem: 'the body opens with a byte-order mark, which a JSON text never has' };
  try {
    return { value: JSON.parse(text) };
  } catch (error) {
    const at = /at position (\d+)/.exec(error.message);
    const cut = /end of JSON input/.test(error.message) || (at !== null && Number(at[1]) >= text.trimEnd().length);
    return { problem: `the body is not JSON (${error.message})`, cut };
  }
}

const isJsonType = (value) => mediaType(value) === 'application/json';
const isHtmlType = (value) => mediaType(value) === 'text/html';

// Collects an answer as it is read; end() gives { bytes: its first KEPT bytes, length, digest,
// bodyLength, bodyDigest }. The body's digest begins where the header block ends, found in the
// kept bytes once they are full (or at the end, in a shorter answer).
function collector() {
  const chunks = [];
  let kept = 0;
  let length = 0;
  const whole = createHash('sha256');
  let body = null;
  return {
    push(chunk) {
      length += chunk.length;
      whole.update(chunk);
      const keep = chunk.subarray(0, KEPT - kept);
      if (keep.length > 0) chunks.push(keep);
      kept += keep.length;
      const rest = chunk.subarray(keep.length);
      if (rest.length === 0) return;
      if (!body) {
        const bytes = Buffer.concat(chunks.splice(0));
        chunks.push(bytes);
        body = createHash('sha256').update(bytes.subarray(bodyOffset(bytes)));
      }
      body.update(rest);
    },
    end() {
      const bytes = Buffer.concat(chunks);
      const offset = bodyOffset(bytes);
      const bodyDigest = body ? body.digest('hex') : createHash('sha256').update(bytes.subarray(offset)).digest('hex');
      return { bytes, length, digest: whole.digest('hex'), bodyLength: length - offset, bodyDigest };
    },
  };
}

// Where the body of `bytes` begins: after the empty line, or at the end when there is none.
function bodyOffset(bytes) {
  const reading = readAnswer(bytes);
  return reading.ended ? bytes.length - reading.body.length : bytes.length;
}

// `bytes` collected at once.
function collected(bytes) {
  const collecting = collector();
  collecting.push(bytes);
  return collecting.end();
}

// The answer a real server hands on, as far as a browser sees it: the content type and the body,
// that of `answer`, the body a server sent (a Buffer) or a direct run's answer (collected, which
// may have been longer than the bytes kept of it).
function asServed(type, answer) {
  const header = Buffer.from(`Content-Type: ${type}\r\n\r\n`, 'latin1');
  if (Buffer.isBuffer(answer)) return collected(Buffer.concat([header, answer]));
  const { body } = readAnswer(answer.bytes);
  return { ...answer, bytes: Buffer.concat([header, body]), length: header.length + answer.bodyLength, digest: null };
}

// Header values that an answer holds to in every run: where they differ, the answer differs.
const FIXED_HEADERS = new Set(['status', 'content-type']);

// Whether `got` (collected) is the whole of the answer that the plain reads in `references` gave
// (collected). An answer that comes the same from run to run must come byte for byte. Where the
// references differ, what differs may: a header whose value changed between them (a request id, a
// date; never the status or the content type), and a body that changed (a time, a process id),
// which must then be no shorter than the shortest seen less 64 bytes and, when it is JSON, have
// the same members. The same header lines, in the same order, always.
function sameAnswer(references, got) {
  if (got.digest && references.some((reference) => reference.digest === got.digest)) return true;
  const mine = readAnswer(got.bytes);
  if (!mine.ended) return false;
  const names = (reading) => reading.headers.map((header) => header.name.toLowerCase()).join('\n');
  const alike = references.filter((reference) => names(readAnswer(reference.bytes)) === names(mine));
  if (alike.length === 0) return false;
  const readings = alike.map((reference) => readAnswer(reference.bytes));
  const headersHold = mine.headers.every(({ name, value }, i) => {
    const values = readings.map((reading) => reading.headers[i].value);
    const changes = values.some((other) => other !== values[0]) && !FIXED_HEADERS.has(name.toLowerCase());
    return changes || value === values[0];
  });
  if (!headersHold) return false;
  if (alike.every((reference) => reference.bodyDigest === alike[0].bodyDigest)) return got.bodyDigest === alike[0].bodyDigest;
  if (got.bodyLength < Math.min(...alike.map((reference) => reference.bodyLength)) - 64) return false;
  // A JSON body is read where it was kept whole.
  const theirs = readings[0].body.length === alike[0].bodyLength ? jsonBody(readings[0].body) : { problem: 'not kept whole' };
  if (theirs.problem || mine.body.length < got.bodyLength) return true;
  const ours = jsonBody(mine.body);
  return !ours.problem && membersOf(ours.value) === membersOf(theirs.value);
}
const membersOf = (value) => (value && typeof value === 'object' ? Object.keys(value).join(',') : typeof value);

module.exports = { readAnswer, headerValues, contentType, mediaType, jsonBody, isJsonType, isHtmlType, sameAnswer, collector, asServed };
