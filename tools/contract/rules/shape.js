'use strict';
// What a host and a browser are better served by, and no host fails without: the warnings.
const { headerValues } = require('../answer');
const { showBytes, showText } = require('../show');
const { answerOf, jsonOf, isHttp } = require('./judging');

// Every JSON answer: admitted JSON requests and refusals.
const jsonAnswer = (run) => isHttp(run) && (run.json || run.gate === 'refused') && !run.edge;

// A rule that a header holds a value: `test` on the joined values of header `name`.
const headerRule = (id, title, name, wanted, test) => ({
  id,
  level: 'should',
  title,
  applies: isHttp,
  judge(result) {
    const values = headerValues(answerOf(result), name);
    if (test(values.join(', ').toLowerCase())) return null;
    return { expected: `${name}: ${wanted}`, came: values.length ? values.map((v) => `${name}: ${showText(v)}`).join(' | ') : `no ${name} header` };
  },
});

module.exports = [
  headerRule('header.charset', 'the Content-Type names charset=utf-8', 'Content-Type', '...; charset=utf-8', (v) => /;\s*charset="?utf-8"?/.test(v)),
  headerRule('header.no-store', 'every HTTP answer says Cache-Control: no-store', 'Cache-Control', 'no-store', (v) => /(^|[ ,])no-store($|[ ,])/.test(v)),
  headerRule('header.nosniff', 'every HTTP answer says X-Content-Type-Options: nosniff', 'X-Content-Type-Options', 'nosniff', (v) => v === 'nosniff'),
  {
    id: 'json.one-line',
    level: 'should',
    title: 'a JSON body is one line of JSON ended by a line feed',
    applies: jsonAnswer,
    judge(result) {
      const { body } = answerOf(result);
      const { problem, unread } = jsonOf(result);
      if (problem || unread || body.indexOf(0x0a) === body.length - 1) return null; // others tell of no JSON
      return { expected: 'one line of JSON, then a line feed', came: showBytes(body) };
    },
  },
  {
    id: 'json.ok-first',
    level: 'should',
    title: 'a JSON body is an object whose first member is "ok", a boolean',
    applies: jsonAnswer,
    judge(result) {
      const { value, problem, unread } = jsonOf(result);
      if (problem || unread) return null; // dispatch.json and gate.refusal tell
      const first = value && typeof value === 'object' && !Array.isArray(value) ? Object.keys(value)[0] : undefined;
      if (first === 'ok' && typeof value.ok === 'boolean') return null;
      return { expected: 'an object opening with "ok": true or false', came: showBytes(answerOf(result).body) };
    },
  },
  {
    id: 'json.unknown-action',
    level: 'should',
    title: 'an action the plugin does not know gets status 200 and "ok": false with an "error" text',
    applies: (run) => run.unknown && isHttp(run),
    judge(result) {
      const { value, problem, unread } = jsonOf(result);
      const status = answerOf(result).status;
      if (unread || (!problem && status === 200 && value && value.ok === false && typeof value.error === 'string')) return null;
      return { expected: 'status 200 and {"ok":false,"error":"..."}', came: `status ${status}: ${showBytes(answerOf(result).body)}` };
    },
  },
];
