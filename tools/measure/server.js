'use strict';
// The plugin behind a real CGI server: lighttpd (mod_cgi) serving each build's echo answer on the
// loopback interface, and the requests per second that ab gets through it, one at a time and 16 at
// once, the builds taking turns.
const fs = require('node:fs');
const path = require('node:path');
const { findLighttpd, startLighttpd } = require('../contract/lighttpd.js');
const { servers, fail, runOk } = require('./run.js');
const { OUT } = require('./floors.js');

const SERVER_REQUESTS = Number(process.env.BENCH_SERVER_REQUESTS || 4000);
const SERVER_CONCURRENCY = [1, 16];

// Returns the table's rows: build, request and the rate at each concurrency.
async function measureServer(builds, echo) {
  console.log(`\nThrough lighttpd (mod_cgi) and ab, ${SERVER_REQUESTS} echo requests a run on 127.0.0.1`);
  const rows = [['build', 'request', ...SERVER_CONCURRENCY.map((c) => `requests/s, ${c} at once`)]];
  const entries = [];
  for (const build of builds) {
    const directory = path.resolve(`${OUT}/${build.name}/server`);
    fs.mkdirSync(directory, { recursive: true });
    // The contract checker's lighttpd serves the plugin at /open, without a node password.
    const server = await startLighttpd({ executable: findLighttpd(), directory, plugin: path.resolve(build.program), password: '' });
    servers.push(server);
    entries.push({ build, server, url: `http://127.0.0.1:${server.port}/open?${echo.env.QUERY_STRING}`, rates: [] });
  }
  try {
    for (const concurrency of SERVER_CONCURRENCY)
      for (const entry of entries) {
        const report = runOk('ab', ['-q', '-n', `${SERVER_REQUESTS}`, '-c', `${concurrency}`, entry.url], { encoding: 'utf8' }).stdout;
        const rate = Number(report.match(/Requests per second:\s+([\d.]+)/)?.[1]);
        const failed = Number(report.match(/Failed requests:\s+(\d+)/)?.[1]);
        const non2xx = Number(report.match(/Non-2xx responses:\s+(\d+)/)?.[1] ?? 0);
        if (failed > 0 || non2xx > 0 || !(rate > 0))
          fail(`${entry.build.name}, ${concurrency} at once through lighttpd: ${failed} requests failed, ${non2xx} not 200`);
        entry.rates.push(rate);
      }
  } finally {
    await Promise.all(entries.map((entry) => entry.server.stop()));
  }
  entries.forEach((entry) => rows.push([entry.build.name, 'echo', ...entry.rates.map((rate) => rate.toFixed(0))]));
  return rows;
}

module.exports = { measureServer };
