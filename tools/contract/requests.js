'use strict';
// Every run the checker makes, each once: what the host would hand the plugin (arguments and
// request variables) and how it hands over standard output (`host`: direct unless a hostile host
// is named). Rules pick the runs they judge by these properties, never by position:
//   mode      'meta', 'version' or 'http' (any other run is an HTTP request)
//   json      for http: the query asks for a JSON answer ("action=" or "format=json" in it)
//   gate      for http: 'open' (no node password), 'refused' or 'admitted' (with a password set)
//   edge      for http: a query that tells a raw substring match from a parsed one
//   input     for http: a query with hostile input, judged by the input rules alone
//   reference run twice directly, so that another host's answer can be held against it
// A run's `env` holds text; `raw` the values that are bytes and not text (latin1, one character a
// byte), which the run sets through sh.

const PASSWORD = 'Open Sesame+1'; // a space and a plus: the pwd parameter must be decoded
const PWD = 'Open+Sesame%2B1';
const LOCKED = { BOT_PASSWORD: PASSWORD };
const UNKNOWN_ACTION = 'no-such-action-7f3a';

const isJsonQuery = (query) => query !== undefined && (query.includes('action=') || query.includes('format=json'));

// A direct HTTP request: `query` becomes QUERY_STRING (unset when undefined).
function http(name, title, query, { env = {}, gate = 'open', ...more } = {}) {
  const request = { ...env };
  if (query !== undefined) request.QUERY_STRING = query;
  return { name, title, mode: 'http', args: more.args || [], env: request, json: isJsonQuery(query), gate, ...more };
}
const locked = (name, title, query, env = {}, gate = 'refused') => http(name, title, query, { env: { ...LOCKED, ...env }, gate });

const META = [
  { name: 'meta', title: '--meta', args: ['--meta'], env: {} },
  { name: 'meta-more', title: '--meta followed by more arguments', args: ['--meta', '--version', 'x'], env: {} },
  { name: 'meta-env', title: 'DV_PLUGIN_META set and empty', args: [], env: { DV_PLUGIN_META: '' } },
  { name: 'meta-env-version', title: 'DV_PLUGIN_META=1 with --version', args: ['--version'], env: { DV_PLUGIN_META: '1' } },
  { name: 'meta-env-request', title: 'DV_PLUGIN_META with a query string', args: [], env: { DV_PLUGIN_META: '', QUERY_STRING: 'action=info' } },
  { name: 'meta-locked', title: '--meta with a node password set', args: ['--meta'], env: { ...LOCKED, QUERY_STRING: 'action=info' }, ungated: true },
  { name: 'meta-env-locked', title: 'DV_PLUGIN_META with a node password set', args: [], env: { ...LOCKED, DV_PLUGIN_META: '' }, ungated: true },
].map((run) => ({ ...run, mode: 'meta', environment: 'DV_PLUGIN_META' in run.env }));

const VERSION = [
  { name: 'version', title: '--version', args: ['--version'], env: {} },
  { name: 'version-short', title: '-v', args: ['-v'], env: {} },
  { name: 'version-locked', title: '--version with a node password set', args: ['--version'], env: LOCKED, ungated: true },
  { name: 'version-short-locked', title: '-v with a node password set', args: ['-v'], env: { ...LOCKED, QUERY_STRING: 'action=info' }, ungated: true },
].map((run) => ({ ...run, mode: 'version' }));

const OPEN = [
  http('page-unset', 'QUERY_STRING unset', undefined),
  http('page', 'QUERY_STRING empty', '', { reference: true }),
  http('page-params', 'a query without action', 'embed=1&x=a%20b'),
  http('page-argument', 'the page, with an argument that is not exactly --meta, --version or -v', '', { args: ['--META'] }),
  http('json-argument', 'action=info, with --meta as the second argument', 'action=info', { args: ['x', '--meta'] }),
  http('json-info', 'action=info', 'action=info'),
  http('json-format', 'format=json', 'format=json'),
  http('json-late', 'action after another parameter', 'x=1&action=info'),
  http('json-unknown', 'an action no plugin has', 'action=' + UNKNOWN_ACTION, { reference: true, unknown: true }),
  http('open-empty-password', 'BOT_PASSWORD empty', 'action=info', { env: { BOT_PASSWORD: '' } }),
  http('open-empty-password-page', 'BOT_PASSWORD empty, the page', '', { env: { BOT_PASSWORD: '' } }),
  http('open-credentials', 'no node password, a wrong header and pwd', 'action=info&pwd=nope', { env: { HTTP_X_BOT_PASSWORD: 'nope' } }),
  http('open-empty-password-credentials', 'BOT_PASSWORD empty, a wrong bearer token', 'action=info', { env: { BOT_PASSWORD: '', HTTP_AUTHORIZATION: 'Bearer nope' } }),
];

// Queries whose answer differs between a raw substring match and a parsed query.
const EDGES = [
  ['transaction=5', true],
  ['msg=say+action=now', true],
  ['xformat=jsonp', true],
  ['Action=info', false],
  ['format=JSON', false],
  ['action%3Dinfo', false],
].map(([query, json], i) => ({ ...http(`edge-${i + 1}`, `the query ${query}`, query), edge: true, json }));

const REFUSED = [
  locked('refused-page-unset', 'the page, QUERY_STRING unset, nothing presented', undefined),
  locked('refused-page', 'the page, nothing presented', '', {}, 'refused'),
  locked('refused-page-params', 'embed=1, nothing presented', 'embed=1'),
  locked('refused-info', 'action=info, nothing presented', 'action=info'),
  locked('refused-format', 'format=json, nothing presented', 'format=json'),
  locked('refused-unknown', 'an unknown action, nothing presented', 'action=' + UNKNOWN_ACTION),
  { ...locked('refused-argument', 'an argument that is not exactly --meta, nothing presented', 'action=info'), args: ['--meta=1'] },
].map((run) => ({ ...run, presented: 'nothing' }));
REFUSED[1].reference = true;

const WRONG = [
  ['header in other case', { HTTP_X_BOT_PASSWORD: PASSWORD.toLowerCase() }, ''],
  ['header holding a prefix', { HTTP_X_BOT_PASSWORD: PASSWORD.slice(0, -1) }, ''],
  ['header with one byte more', { HTTP_X_BOT_PASSWORD: PASSWORD + '1' }, ''],
  ['header empty', { HTTP_X_BOT_PASSWORD: '' }, ''],
  ['bearer token wrong', { HTTP_AUTHORIZATION: 'Bearer nope' }, ''],
  ['bearer token holding a prefix', { HTTP_AUTHORIZATION: 'Bearer ' + PASSWORD.slice(0, -1) }, ''],
  ['bearer scheme alone', { HTTP_AUTHORIZATION: 'Bearer ' }, ''],
  ['another scheme', { HTTP_AUTHORIZATION: 'Basic ' + PASSWORD }, ''],
  ['pwd wrong', {}, '&pwd=nope'],
  ['pwd holding a prefix', {}, '&pwd=Open+Sesame'],
  ['pwd with a bare plus for the plus', {}, '&pwd=Open+Sesame+1'],
  ['pwd empty', {}, '&pwd='],
].map(([title, env, pwd], i) => ({ ...locked(`wrong-${i + 1}`, `a ${title}`, 'action=info' + pwd, env), presented: 'wrong' }));

// [name, title, query, env, place]
const ADMITTED = [
  ['header-json', 'X-Bot-Password, JSON', 'action=info', { HTTP_X_BOT_PASSWORD: PASSWORD }, 'header'],
  ['header-page', 'X-Bot-Password, the page', '', { HTTP_X_BOT_PASSWORD: PASSWORD }, 'header'],
  ['bearer-json', 'Authorization: Bearer, JSON', 'action=info', { HTTP_AUTHORIZATION: 'Bearer ' + PASSWORD }, 'bearer'],
  ['bearer-page', 'Authorization: Bearer, the page', '', { HTTP_AUTHORIZATION: 'Bearer ' + PASSWORD }, 'bearer'],
  ['bearer-spaces', 'Authorization with spaces before and after Bearer', 'action=info', { HTTP_AUTHORIZATION: '  Bearer   ' + PASSWORD }, 'bearer'],
  ['pwd-json', 'pwd with + for a space and %2B for a plus, JSON', `action=info&pwd=${PWD}`, {}, 'pwd'],
  ['pwd-page', 'pwd percent-encoded, the page', 'pwd=Open%20Sesame%2b1', {}, 'pwd'],
  ['pwd-first', 'pwd before the action', `pwd=${PWD}&action=info`, {}, 'pwd'],
  ['wrong-header-right-pwd', 'a wrong header, then the right pwd', `action=info&pwd=${PWD}`, { HTTP_X_BOT_PASSWORD: 'nope' }, 'pwd'],
].map(([name, title, query, env, place]) => ({ ...locked(`admitted-${name}`, title, query, env, 'admitted'), place }));

// Ordinary hostile input: what browsers and hosts send, and real plugins break on. A query is
// written as its bytes (latin1, one character a byte); one that is not UTF-8 goes in `raw`. The
// longest is 100 KB: Linux passes a variable of up to 128 KiB, and so a host may.
const LONGEST = 100000;
const filled = (prefix, unit, length) => prefix + unit.repeat(Math.ceil(length / unit.length)).slice(0, length - prefix.length);
const utf8 = new TextDecoder('utf-8', { fatal: true });
function input(name, title, bytes, env = {}) {
  let text = null;
  try {
    text = utf8.decode(Buffer.from(bytes, 'latin1'));
  } catch {
    // Not text: set as bytes.
  }
  const run = http(`input-${name}`, title, text ?? undefined, { env, gate: env.BOT_PASSWORD ? 'refused' : 'open', input: true });
  return text === null ? { ...run, raw: { QUERY_STRING: bytes }, json: isJsonQuery(bytes) } : run;
}
const utf8Bytes = (text) => Buffer.from(text, 'utf8').toString('latin1');
const INPUT = [
  input('quotes', 'quotes and backslashes, raw and percent-encoded', `action=say"hi"\\'%22%5C%27`),
  input('controls', 'control bytes, percent-encoded', 'action=a%01%07%08%09%0A%0D%1B%1F%7Fb&msg=%0D%0A'),
  input('nul', '%00, a NUL byte', 'action=a%00b&msg=%00'),
  input('text', 'non-ASCII text, percent-encoded UTF-8', 'action=caf%C3%A9-%E2%82%AC-%F0%9F%98%80&msg=%E4%B8%AD%E6%96%87'),
  input('text-raw', 'non-ASCII text, UTF-8 not encoded', utf8Bytes('action=café-€-😀')),
  input('percent', '% not followed by two hex digits', 'q=%zz%4&action=100%'),
  input('not-utf8', 'bytes that are not UTF-8, percent-encoded', 'action=%FF%FE-%C3%28-%C0%AF-%ED%A0%80-%F4%90%80%80-%E2%82'),
  input('not-utf8-raw', 'bytes that are not UTF-8, not encoded', 'action=caf\xe9-\xff\xfe'),
  input('plus', '+ for a space and %2B for a plus', 'action=a+b%2Bc+&msg=+%2B+'),
  input('repeated', 'repeated keys', 'action=x&action=info&msg=1&msg=2&action='),
  input('empty', 'empty keys and values', '=&&=x&action=&msg=&&'),
  input('long-action', 'an action of 1,000 bytes', filled('action=', 'a', 1007)),
  input('4k', 'a query of 4 KiB', filled('action=echo&msg=', 'm', 4096)),
  input('100k', 'a query of 100 KB', filled('action=echo&msg=', 'x', LONGEST)),
  input('many', '5,000 parameters', filled('', 'p=1&', 20000) + 'action=info'),
  input('page', 'the page, with every kind of value above', `q=a"b\\c'%22%00%01%FF%zz+%&q=&=&x=caf\xe9+${utf8Bytes('€')}`),
  input('page-long', 'the page, for a query of 100 KB', filled('q=', 'x', LONGEST)),
  input('locked', 'a node password set, and a pwd that does not decode', 'action=info&pwd=100%&pwd=%FF%zz', LOCKED),
];

// Hostile hosts: each takes an answer of the plugin's and hands over standard output its own way.
// [host, what it does]
const HOSTS = [
  ['closed', 'standard output closed'],
  ['gone', 'a reader gone before the first byte'],
  ['leaves', 'a reader that leaves while the plugin waits on a full pipe'],
  ['nonblocking', 'a non-blocking standard output on a full pipe, read late'],
  ['nonblocking-room', 'a non-blocking standard output with one page free, read late'],
  ['slow', 'a full pipe read late, in pauses'],
  ['full', 'standard output on /dev/full'],
];
const HOSTILE = HOSTS.flatMap(([host, what]) =>
  ['page', 'json-unknown', 'refused-page'].map((of) => {
    const direct = [...OPEN, ...REFUSED].find((run) => run.name === of);
    return { ...direct, name: `${host}-${of}`, title: `${what}: ${direct.title}`, host, of, reference: false };
  }),
);

const RUNS = [...META, ...VERSION, ...OPEN, ...EDGES, ...REFUSED, ...WRONG, ...ADMITTED, ...INPUT, ...HOSTILE];

module.exports = { RUNS, PASSWORD, PWD, UNKNOWN_ACTION, isJsonQuery, HOSTS };
