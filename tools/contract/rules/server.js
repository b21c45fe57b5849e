'use strict';
// The same requests through a real CGI host, lighttpd, where it is installed: what a browser
// receives must agree with the plugin's direct answers (the Status line as the HTTP status, the
// content type, the body), the two made before the check and one made right after each request.
const { findLighttpd, startLighttpd, get } = require('../lighttpd');
const { readAnswer, contentType, sameAnswer, asServed } = require('../answer');
const { runDirect } = require('../direct');
const { RUNS, PASSWORD, PWD, UNKNOWN_ACTION } = require('../requests');
const { showBytes, showText, checkerFor } = require('../show');

// [route and query, request headers, the direct run it must agree with]
const REQUESTS = [
  ['/open', {}, 'page'],
  ['/open?action=info', {}, 'json-info'],
  [`/open?action=${UNKNOWN_ACTION}`, {}, 'json-unknown'],
  ['/locked', {}, 'refused-page'],
  ['/locked?action=info', { 'X-Bot-Password': PASSWORD }, 'admitted-header-json'],
  ['/locked?action=info', { Authorization: 'Bearer ' + PASSWORD }, 'admitted-bearer-json'],
  [`/locked?action=info&pwd=${PWD}`, {}, 'admitted-pwd-json'],
];

module.exports = [
  {
    id: 'cgi.lighttpd',
    level: 'must',
    title: 'through lighttpd (mod_cgi) the answers agree with the direct runs',
    needs: REQUESTS.map(([, , run]) => run),
    async evaluate({ plugin, results, directory, limitMs }) {
      const executable = findLighttpd();
      if (!executable) return { skip: 'lighttpd is not installed (Debian: apt-get install lighttpd); no real CGI host to agree with' };
      let server;
      try {
        server = await startLighttpd({ executable, directory, plugin, password: PASSWORD });
      } catch (error) {
        return { skip: error.message };
      }
      const findings = [];
      let compared = 0;
      try {
        for (const [target, headers, name] of REQUESTS) {
          const direct = (results.get(name) || []).filter((result) => !result.timedOut && result.output && result.output.length);
          if (direct.length === 0) continue;
          compared++;
          const [first] = direct.map((result) => readAnswer(result.stdout));
          const response = await get(server.port, target, headers, limitMs + 1000);
          const plain = await runDirect(plugin, RUNS.find((run) => run.name === name), { directory, limitMs });
          if (!plain.timedOut && plain.output && plain.output.length) direct.push(plain);
          const sent = Object.entries(headers).map(([key, value]) => ` with ${key}: ${value}`).join('');
          const finding = { run: `GET ${target}${sent}` };
          const expected = `status ${first.status}, Content-Type: ${showText(contentType(first) ?? '(none)')}, the body of a direct run (${direct[0].output.bodyLength} bytes)`;
          if (response.error) findings.push({ ...finding, expected, came: `no HTTP answer: ${response.error.message}` });
          else {
            const type = response.headers['content-type'];
            const same =
              response.status === first.status &&
              type === contentType(first) &&
              sameAnswer(direct.map((result) => asServed(contentType(readAnswer(result.stdout)), result.output)), asServed(type, response.body));
            if (!same) findings.push({ ...finding, expected, came: `status ${response.status}, Content-Type: ${showText(type ?? '(none)')}, body ${showBytes(response.body)}` });
          }
        }
      } finally {
        await server.stop();
      }
      if (compared === 0) return { skip: 'no direct answer to hold lighttpd\'s against' };
      return { findings: findings.map((finding) => ({ ...finding, replay: checkerFor(plugin, 'cgi.lighttpd') })) };
    },
  },
];
