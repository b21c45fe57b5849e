'use strict';
// The plugin behind a real CGI server: lighttpd runs it at /plugin_NAME with a node password in
// its environment, and the answers are checked as a browser receives them, over HTTP. This shows
// that the header blocks are real CGI (the Status line becomes the HTTP status, the other lines
// become response headers) and that the password reaches the plugin from each place a browser can
// put it. lighttpd hands the Authorization header to CGI programs as HTTP_AUTHORIZATION as it is.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { PROGRAM, run, commandLine, underLauncher, assertInfo, assertEcho, assertUnknown, REFUSAL, JSON_HEADER, HTML_HEADER } = require('../support/plugin');
const { LIGHTTPD, startLighttpd } = require('../../tools/support.js').lighttpd;

const skip =
  (underLauncher && 'lighttpd runs the executable itself, so not under a launcher') ||
  (!LIGHTTPD && 'needs lighttpd (Debian package lighttpd)');

const PASSWORD = 'Open Sesame+1';
const PWD_PARAMETER = 'pwd=Open%20Sesame%2B1';

// GET on the server; resolves to the status, the headers and the body as latin1.
function get(port, target, headers = {}) {
  return new Promise((resolve, reject) => {
    http
      .get({ host: '127.0.0.1', port, path: target, headers }, (response) => {
        const chunks = [];
        response.on('data', (chunk) => chunks.push(chunk));
        response.on('end', () =>
          resolve({ status: response.statusCode, headers: response.headers, body: Buffer.concat(chunks).toString('latin1') }),
        );
      })
      .on('error', reject);
  });
}

const bodyOf = (answer, header) => {
  assert.ok(answer.startsWith(header));
  return answer.slice(header.length);
};

test('behind lighttpd, as a browser sees it', { skip }, async (t) => {
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'plugin-cgi-'));
  const server = await startLighttpd({
    directory, route: `/${PROGRAM}`, executable: path.resolve(commandLine[0]), environment: { BOT_PASSWORD: PASSWORD },
  });
  t.after(async () => {
    await server.stop();
    fs.rmSync(directory, { recursive: true, force: true });
  });

  const PAGE = bodyOf(run({ query: '' }).out, HTML_HEADER);
  const EMBEDDED_PAGE = bodyOf(run({ query: 'embed=1' }).out, HTML_HEADER);
  const REFUSAL_BODY = bodyOf(REFUSAL, 'Status: 401 Unauthorized\r\n' + JSON_HEADER);
  // A JSON body is checked as the plugin's own answer would be.
  const echoOf = (msg) => (body) => assertEcho(JSON_HEADER + body, msg);
  const ECHO_OK = echoOf('ok');
  const HEADER = { 'X-Bot-Password': PASSWORD };
  const html = 'text/html; charset=utf-8';
  const json = 'application/json; charset=utf-8';

  // [name, request target, request headers, status, content type, body (or a function of it)]
  const table = [
    ['page', `/${PROGRAM}`, HEADER, 200, html, PAGE],
    ['embedded page', `/${PROGRAM}?embed=1`, HEADER, 200, html, EMBEDDED_PAGE],
    ['echo', `/${PROGRAM}?action=echo&msg=a%20b%26c`, HEADER, 200, json, echoOf('a b&c')],
    ['unknown action is not an HTTP error', `/${PROGRAM}?action=nope`, HEADER, 200, json, (body) => assertUnknown(JSON_HEADER + body, 'nope')],
    ['refused: no credential', `/${PROGRAM}?action=info`, {}, 401, json, REFUSAL_BODY],
    ['refused: page request', `/${PROGRAM}`, {}, 401, json, REFUSAL_BODY],
    ['refused: wrong header', `/${PROGRAM}?action=echo&msg=ok`, { 'X-Bot-Password': 'open sesame+1' }, 401, json, REFUSAL_BODY],
    ['refused: header holding a prefix of the password', `/${PROGRAM}?action=echo&msg=ok`, { 'X-Bot-Password': 'Open Sesame' }, 401, json, REFUSAL_BODY],
    ['refused: lower-case bearer', `/${PROGRAM}?action=echo&msg=ok`, { Authorization: 'bearer ' + PASSWORD }, 401, json, REFUSAL_BODY],
    ['refused: basic scheme', `/${PROGRAM}?action=echo&msg=ok`, { Authorization: 'Basic ' + Buffer.from('u:' + PASSWORD).toString('base64') }, 401, json, REFUSAL_BODY],
    ['refused: bare plus in pwd', `/${PROGRAM}?action=echo&msg=ok&pwd=Open+Sesame+1`, {}, 401, json, REFUSAL_BODY],
    ['X-Bot-Password header', `/${PROGRAM}?action=echo&msg=ok`, HEADER, 200, json, ECHO_OK],
    ['Authorization: Bearer header', `/${PROGRAM}?action=echo&msg=ok`, { Authorization: 'Bearer ' + PASSWORD }, 200, json, ECHO_OK],
    ['Authorization with spaces around the scheme', `/${PROGRAM}?action=echo&msg=ok`, { Authorization: '  Bearer   ' + PASSWORD }, 200, json, ECHO_OK],
    ['pwd parameter', `/${PROGRAM}?action=echo&msg=ok&${PWD_PARAMETER}`, {}, 200, json, ECHO_OK],
    // The info record repeats the raw query string, the password included, as the host expects.
    ['info through pwd repeats the query', `/${PROGRAM}?action=info&${PWD_PARAMETER}`, {}, 200, json,
      (body) => assertInfo(JSON_HEADER + body, `action=info&${PWD_PARAMETER}`)],
  ];
  for (const [name, target, headers, status, type, expected] of table)
    await t.test(name, async () => {
      const response = await get(server.port, target, headers);
      assert.equal(response.status, status);
      assert.equal(response.headers['content-type'], type);
      assert.equal(response.headers['cache-control'], 'no-store');
      assert.equal(response.headers['x-content-type-options'], 'nosniff');
      assert.equal(response.headers.status, undefined, 'the Status line is not relayed as a header');
      if (typeof expected === 'function') expected(response.body);
      else assert.equal(response.body, expected);
    });
});
