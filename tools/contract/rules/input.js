'use strict';
// Ordinary hostile input: the requests browsers and hosts send that break real plugins (quotes,
// control bytes, bytes that are not UTF-8, a lone %, long values, many parameters). Whatever the
// request held, the plugin answers, a JSON answer is one JSON text, and nothing is cut short. What
// the values become (how a lone % or a byte that is not UTF-8 is decoded, which of two keys wins,
// where a long value is cut) is the plugin's own, and not judged.
const { readAnswer, headerValues, isJsonType, isHtmlType } = require('../answer');
const { showBytes, showText } = require('../show');
const { answerOf, came, jsonOf, typeOf, notJson } = require('./judging');

const hostile = (run) => run.input === true;
const TAIL = 80; // bytes shown of the end of an answer cut short

// Whether a page body (kept whole) ends as a whole page does: with </html>, then white space.
const endsPage = (body) => /<\/html\s*>\s*$/i.test(body.subarray(-TAIL).toString('latin1'));

// The body of a direct answer (collected) when it was kept whole, else null.
function readBody(output) {
  const { body, ended } = readAnswer(output.bytes);
  return ended && body.length === output.bodyLength ? body : null;
}

// What was cut short in an answer, as { expected, came }, or null.
function cutShort(result, context) {
  const answer = answerOf(result);
  const { bodyLength } = result.output;
  const lengths = headerValues(answer, 'content-length');
  const wrong = lengths.find((value) => value !== String(bodyLength));
  if (wrong !== undefined)
    return {
      expected: `Content-Length: ${bodyLength}, the bytes of the body, or no Content-Length`,
      came: `Content-Length: ${showText(wrong)} for a body of ${bodyLength} bytes: a server cuts the body there, or waits for more`,
    };
  const kept = answer.body.length === bodyLength;
  const ending = `the body ends with ${showBytes(answer.body.subarray(-TAIL))} (${bodyLength} bytes)`;
  if (isJsonType(typeOf(result)) && jsonOf(result).cut)
    return { expected: 'the whole JSON text', came: `${ending}, inside its JSON text` };
  const pages = context.references('page').map((output) => readBody(output)).filter(Boolean);
  if (kept && isHtmlType(typeOf(result)) && pages.length > 0 && pages.every(endsPage) && !endsPage(answer.body))
    return { expected: 'the whole page, ending with </html> as the page for an empty query does', came: ending };
  return null;
}

module.exports = [
  {
    id: 'input.answer',
    level: 'must',
    title: 'a request with hostile input gets an answer: header lines, an empty line, a Content-Type; exit 0',
    applies: hostile,
    judge(result) {
      const answer = answerOf(result);
      if (answer.ended && answer.problems.length === 0 && headerValues(answer, 'content-type').length === 1 && result.code === 0) return null;
      return { expected: 'an answer (header lines, an empty line, one Content-Type) and exit 0', came: came(result) };
    },
  },
  {
    id: 'input.json',
    level: 'must',
    title: 'a query holding "action=" gets one JSON text in UTF-8, whatever else it holds',
    applies: (run) => hostile(run) && run.json,
    judge(result) {
      // No answer at all is input.answer's to tell, a JSON text cut short input.whole's.
      if (!answerOf(result).ended || jsonOf(result).cut) return null;
      return notJson(result);
    },
  },
  {
    id: 'input.whole',
    level: 'must',
    title: 'nothing is cut short: a Content-Length counts the body, a JSON text and a page end where they end',
    applies: hostile,
    needs: ['page'],
    judge: (result, run, context) => (answerOf(result).ended ? cutShort(result, context) : null),
  },
];
