'use strict';
// The framing of every HTTP answer, and the kind of answer a query asks for: JSON when the query
// string holds "action=" or "format=json", the page otherwise.
const { headerValues, mediaType } = require('../answer');
const { showText } = require('../show');
const { answerOf, came, isHttp, notJson, notHtml } = require('./judging');

const answered = (run) => isHttp(run) && run.gate !== 'refused';

module.exports = [
  {
    id: 'frame.header-lines',
    level: 'must',
    title: 'the answer opens with header lines "Name: value", each ended by CRLF',
    applies: isHttp,
    judge(result) {
      const answer = answerOf(result);
      if (answer.headers.length > 0 && answer.problems.length === 0) return null;
      const why = answer.problems[0] || 'no header line';
      return { expected: 'header lines "Name: value\\r\\n", a Content-Type among them', came: `${why}; the answer: ${came(result)}` };
    },
  },
  {
    id: 'frame.empty-line',
    level: 'must',
    title: 'an empty line (CRLF) ends the header lines; the body follows it',
    applies: isHttp,
    judge(result) {
      const answer = answerOf(result);
      if (answer.ended) return null;
      return { expected: 'an empty line "\\r\\n" after the header lines', came: `${answer.endProblem}; the answer: ${came(result)}` };
    },
  },
  {
    id: 'frame.status',
    level: 'must',
    title: 'a Status line, where there is one, is "Status: NNN reason", once',
    applies: isHttp,
    judge(result) {
      const lines = answerOf(result).statusLines;
      if (lines.length === 0) return null;
      const code = /^(\d{3})(?: .*)?$/.exec(lines[0]);
      if (lines.length === 1 && code && Number(code[1]) >= 100 && Number(code[1]) <= 599) return null;
      return { expected: 'one line "Status: NNN reason", NNN from 100 to 599', came: lines.map((line) => `Status: ${showText(line)}`).join(' | ') };
    },
  },
  {
    id: 'frame.content-type',
    level: 'must',
    title: 'every HTTP answer has one Content-Type header',
    applies: isHttp,
    judge(result) {
      const types = headerValues(answerOf(result), 'content-type');
      if (types.length === 1 && mediaType(types[0]).includes('/')) return null;
      return { expected: 'one Content-Type header naming a media type', came: types.length ? types.map((t) => `Content-Type: ${showText(t)}`).join(' | ') : 'no Content-Type header' };
    },
  },
  {
    id: 'dispatch.json',
    level: 'must',
    title: 'a query holding "action=" or "format=json" gets a JSON answer',
    applies: (run) => answered(run) && run.json && !run.edge,
    judge: notJson,
  },
  {
    id: 'dispatch.html',
    level: 'must',
    title: 'any other query, or none, gets the page: text/html and a body',
    applies: (run) => answered(run) && !run.json && !run.edge,
    judge: notHtml,
  },
  {
    id: 'dispatch.substring',
    level: 'should',
    title: 'the choice is made on the raw query string, by substring, case-sensitively',
    applies: (run) => answered(run) && run.edge,
    judge: (result, run) => (run.json ? notJson(result) : notHtml(result)),
  },
];
