'use strict';
// Reading a plugin's answer as a host reads it: CGI header lines "Name: value" each ended by CRLF,
// an empty line, then the body. The reading never throws: what does not fit is listed in
// `problems`, and the rest of the answer is read as far as it goes. The stand-in host of make
// serve and the contract checker read answers here, each with its own verdict on what it finds.
const TOKEN = /^[!#$%&'*+.^_`|~0-9A-Za-z-]+$/;
const MOST_HEADER_LINES = 100;

// Returns { headers: [{ name, value }], problems, ended, endProblem, lineEnd, malformed, body,
// status, statusLines }: `problems` are texts on the header lines (a line quoted with `quote`),
// `ended` says whether an empty line ended by CRLF closed the block, and `endProblem` why not;
// `lineEnd` is how the empty line that closed it ended ('\r\n', '\n', or null for none), and
// `malformed` the line that is no header line, if one stopped the reading. `status` is the Status
// line's code (200 without one, NaN if unreadable).
function readAnswer(bytes, quote = (line) => JSON.stringify(line).slice(1, -1)) {
  const reading = {
    headers: [], problems: [], ended: false, endProblem: null, lineEnd: null, malformed: null, body: Buffer.alloc(0), status: 200, statusLines: [],
  };
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
      reading.lineEnd = crlf ? '\r\n' : '\n';
      reading.body = bytes.subarray(at);
      break;
    }
    const colon = line.indexOf(':');
    const name = colon > 0 ? line.slice(0, colon) : '';
    if (!TOKEN.test(name)) {
      reading.malformed = line;
      reading.problems.push(`not a header line "Name: value": "${quote(line.slice(0, 60))}"`);
      reading.endProblem = 'no empty line after the header lines';
      return reading;
    }
    if (!crlf) reading.problems.push(`the header line "${quote(line.slice(0, 60))}" ends in a bare line feed, not CRLF`);
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

// The end of the JSON string that opens with the quote at `at`: the index after its closing quote,
// or -1 when the text ends first.
function stringEnd(text, at) {
  for (let i = at + 1; i < text.length; i++) {
    if (text[i] === '\\') i++;
    else if (text[i] === '"') return i + 1;
  }
  return -1;
}

module.exports = { readAnswer, headerValues, contentType, mediaType, stringEnd };
