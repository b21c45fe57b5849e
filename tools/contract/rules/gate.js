'use strict';
// The node password: with BOT_PASSWORD set and not empty, every HTTP request must present it in
// one of three places, or get the refusal; meta and version never ask for it (identity.js).
const { answerOf, came, notJson } = require('./judging');

const REFUSAL = 'Status: 401, a JSON content type and a JSON body';

function notRefused(result) {
  const answer = answerOf(result);
  if (answer.status !== 401) return { expected: REFUSAL, came: `status ${answer.status || 'unreadable'}: ${came(result)}` };
  return notJson(result);
}

// An admitted request gets an answer of its own, not the refusal.
function notAdmitted(result) {
  const answer = answerOf(result);
  if (answer.ended && answer.status !== 401) return null;
  return { expected: 'the answer to the request (not Status: 401)', came: came(result) };
}

const admittedBy = (place) => (run) => run.gate === 'admitted' && run.place === place && !run.host;

module.exports = [
  {
    id: 'gate.refusal',
    level: 'must',
    title: 'with BOT_PASSWORD set, a request presenting nothing is refused, page and JSON alike',
    applies: (run) => run.presented === 'nothing' && !run.host,
    judge: notRefused,
  },
  {
    id: 'gate.wrong',
    level: 'must',
    title: 'a wrong password, a prefix of it or one byte more, in any place, is refused',
    applies: (run) => run.presented === 'wrong',
    judge: notRefused,
  },
  {
    id: 'gate.header',
    level: 'must',
    title: 'the password in the X-Bot-Password header (HTTP_X_BOT_PASSWORD) is accepted',
    applies: admittedBy('header'),
    judge: notAdmitted,
  },
  {
    id: 'gate.bearer',
    level: 'must',
    title: 'the password as "Authorization: Bearer <password>", spaces allowed around Bearer, is accepted',
    applies: admittedBy('bearer'),
    judge: notAdmitted,
  },
  {
    id: 'gate.pwd',
    level: 'must',
    title: 'the password as the query parameter pwd, percent-decoded with + as a space, is accepted',
    applies: admittedBy('pwd'),
    judge: notAdmitted,
  },
  {
    id: 'gate.open',
    level: 'must',
    title: 'with BOT_PASSWORD unset or empty there is no gate',
    applies: (run) => run.mode === 'http' && run.gate === 'open' && !run.host && !run.input,
    judge: notAdmitted,
  },
];
