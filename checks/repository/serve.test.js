// The stand-in host, driven over HTTP against small fake plugins whose behaviour the query picks.
'use strict';

const { describe, test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { spawn, spawnSync } = require('node:child_process');
const { start } = require('../../tools/author/serve/server.js');
const { PLUGIN_DIR } = require('../../tools/author/browser.js');
const { NAME, PROGRAM } = require('../support/plugin');

// One fake plugin; the `mode` parameter of its query chooses what it writes. The fakes' names start
// with a digit, which no plugin made from this kit's source can have, so they never meet its own.
const FAKE = `#!${process.execPath}
const out = (text) => process.stdout.write(text);
const mode = new URLSearchParams(process.env.QUERY_STRING).get('mode');
({
  env: () => out('Content-Type: application/json\\r\\n\\r\\n' + JSON.stringify(process.env)),
  lf: () => out('Status: 418 Teapot\\nX-One: 1\\nx-one: 2\\nContent-Length: 999\\n\\nbody\\n\\nmore'),
  location: () => out('Location: /elsewhere\\r\\n\\r\\n'),
  nohead: () => out('just a body'),
  empty: () => {},
  exit: () => { out('Content-Type: text/plain\\r\\n\\r\\nx'); process.exitCode = 3; },
  malformed: () => out('Not a header\\r\\n\\r\\n'),
  query: () => out(process.env.QUERY_STRING + '\\r\\n\\r\\n'),
  badstatus: () => out('Status: ok\\r\\n\\r\\n'),
  killed: () => process.kill(process.pid, 'SIGKILL'),
  slow: () => setTimeout(() => out('Content-Type: text/plain\\r\\n\\r\\nlate'), 60000),
})[mode]();
`;

let dir;
before(() => {
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'plugin-host-'));
  fs.writeFileSync(path.join(dir, 'plugin_0fake'), FAKE, { mode: 0o755 });
  fs.writeFileSync(path.join(dir, 'plugin_0plain'), FAKE, { mode: 0o644 }); // not executable
  fs.writeFileSync(path.join(dir, 'not_a_plugin'), FAKE, { mode: 0o755 });
  fs.symlinkSync(path.join(PLUGIN_DIR, PROGRAM), path.join(dir, PROGRAM));
});
after(() => fs.rmSync(dir, { recursive: true, force: true }));

async function withHost(options, use) {
  const lines = [];
  const host = await start({ port: 0, plugins: dir, log: (line) => lines.push(line), timeoutMs: 5000, ...options });
  try {
    await use(host, lines);
  } finally {
    await host.close();
  }
}

describe('what a plugin run is given', () => {
  // [host password, address, request headers, expected environment besides PATH]
  const cases = [
    ['', '/plugin_0fake?mode=env', {}, { QUERY_STRING: 'mode=env' }],
    ['', '/plugin_0fake?mode=env&x=a+b%2B%26&pwd=p', { 'X-Bot-Password': 'a b', Authorization: 'Bearer t', Cookie: 'c=1', 'X-Other': 'y' },
      { QUERY_STRING: 'mode=env&x=a+b%2B%26&pwd=p', HTTP_X_BOT_PASSWORD: 'a b', HTTP_AUTHORIZATION: 'Bearer t' }],
    ['', '/plugins?plugin=0fake&mode=env&plugin=other', { 'X-Bot-Password': '' }, { QUERY_STRING: 'plugin=0fake&mode=env&plugin=other', HTTP_X_BOT_PASSWORD: '' }],
    ['node pw', '/plugin_0fake?mode=env', { Authorization: 'Basic eA==' }, { QUERY_STRING: 'mode=env', HTTP_AUTHORIZATION: 'Basic eA==', BOT_PASSWORD: 'node pw' }],
  ];
  for (const [password, address, headers, expected] of cases) {
    test(`${address} ${JSON.stringify(headers)}${password ? ' with a node password' : ''}`, () =>
      withHost({ password }, async (host) => {
        const response = await fetch(new URL(address, host.url), { headers });
        assert.equal(response.status, 200);
        const env = await response.json();
        assert.ok(env.PATH);
        delete env.PATH;
        assert.deepEqual(env, expected);
      }));
  }
});

describe('relaying the output', () => {
  // Far above a fake plugin's start on a busy machine, where Node alone was seen to take 0.8 s.
  const TIME_LIMIT_MS = 2000;
  // [mode, status, headers that must be present, body or message it must contain]
  const cases = [
    ['lf', 418, { 'x-one': '1, 2', 'content-length': '10' }, 'body\n\nmore'],
    ['location', 302, { location: '/elsewhere' }, ''],
    ['nohead', 502, { 'content-type': 'text/plain; charset=utf-8' }, 'no header block'],
    ['empty', 502, {}, 'no header block'],
    ['exit', 502, {}, 'exited with status 3'],
    ['malformed', 502, {}, 'malformed header line'],
    ['badstatus', 502, {}, 'invalid status'],
    ['killed', 502, {}, 'signal SIGKILL'],
    ['slow', 502, {}, `longer than ${TIME_LIMIT_MS} ms`],
  ];
  for (const [mode, status, headers, body] of cases) {
    test(mode, () =>
      withHost({ timeoutMs: TIME_LIMIT_MS }, async (host) => {
        const started = Date.now();
        const response = await fetch(new URL(`/plugin_0fake?mode=${mode}`, host.url), { redirect: 'manual' });
        assert.equal(response.status, status);
        for (const [name, value] of Object.entries(headers)) assert.equal(response.headers.get(name), value, name);
        const received = await response.text();
        if (status === 502) assert.ok(received.includes(body), received);
        else assert.equal(received, body);
        assert.ok(Date.now() - started < 2 * TIME_LIMIT_MS, 'a slow plugin is stopped at the time limit');
      }));
  }

  test('the real plugin: page, JSON, refusal with its status', () =>
    withHost({ password: 'pw' }, async (host) => {
      const refused = await fetch(new URL(`/${PROGRAM}?action=info`, host.url));
      assert.equal(refused.status, 401);
      assert.equal(refused.headers.get('content-type'), 'application/json; charset=utf-8');
      assert.equal(await refused.text(), '{"ok":false,"error":"invalid node password"}\n');
      const echo = await fetch(new URL(`/plugins?plugin=${NAME}&action=echo&msg=a%20b`, host.url), { headers: { Authorization: 'Bearer pw' } });
      assert.deepEqual(await echo.json(), { ok: true, action: 'echo', msg: 'a b', len: 3 });
      const page = await fetch(new URL(`/${PROGRAM}?pwd=pw`, host.url));
      assert.equal(page.headers.get('cache-control'), 'no-store');
      assert.match(await page.text(), /^<!DOCTYPE html>\n[^]*<\/html>\n$/);
    }));
});

describe('routes and logging', () => {
  const unsafe = [
    '/plugin_nope', '/plugin_0plain', '/plugin_0Fake', '/plugin_0fake/x', '/plugin_..%2Fplugin_0fake', '/not_a_plugin',
    '/plugins', '/plugins?plugin=', '/plugins?plugin=..%2Fplugin_0fake', '/plugins?plugin=0fake%00', '/plugins?plugin=/etc/passwd',
    '/etc/passwd',
  ];
  test('unknown, unsafe and non-executable names run nothing', () =>
    withHost({}, async (host) => {
      for (const address of unsafe) {
        const response = await fetch(new URL(address, host.url));
        assert.equal(response.status, 404, address);
      }
      const post = await fetch(new URL('/plugin_0fake?mode=env', host.url), { method: 'POST' });
      assert.equal(post.status, 405);
    }));

  test('one line per request: method, path without query, status, milliseconds, and why for a 502', () =>
    withHost({}, async (host, lines) => {
      // [address, its log line with the milliseconds as N]
      const requests = [
        ['/plugin_0fake?mode=env&pwd=secret', 'GET /plugin_0fake 200 Nms'],
        ['/plugin_nope?pwd=secret', 'GET /plugin_nope 404 Nms'],
        ['/plugin_0fake?mode=query&pwd=secret', 'GET /plugin_0fake 502 Nms (plugin_0fake wrote a malformed header line)'],
        ['/plugin_0fake?mode=nohead&pwd=secret', 'GET /plugin_0fake 502 Nms (plugin_0fake wrote no header block)'],
        ['/plugin_0fake?mode=exit&pwd=secret', 'GET /plugin_0fake 502 Nms (plugin_0fake exited with status 3)'],
        ['/plugin_0fake?mode=killed&pwd=secret', 'GET /plugin_0fake 502 Nms (plugin_0fake was ended by signal SIGKILL)'],
      ];
      for (const [address] of requests) await (await fetch(new URL(address, host.url))).text();
      await new Promise((resolve) => setImmediate(resolve));
      assert.deepEqual(lines.map((line) => line.replace(/ \d+(\.\d+)?ms/, ' Nms')), requests.map(([, line]) => line));
    }));

  // A page of another site whose name is pointed at 127.0.0.1 sends its own name as Host.
  test('only a Host naming this server is answered', () =>
    withHost({}, async (host) => {
      const { port } = new URL(host.url);
      // [Host header, or null for none; expected status]
      const cases = [
        [`127.0.0.1:${port}`, 200],
        [`localhost:${port}`, 200],
        [`LocalHost:${port}`, 200],
        [`evil.example:${port}`, 403],
        [`127.0.0.1:${port}.evil.example`, 403],
        [`evil-localhost:${port}`, 403],
        [`127.0.0.1:${Number(port) + 1}`, 403],
        ['127.0.0.1', 403],
        [`[::1]:${port}`, 403],
        [null, 403],
      ];
      for (const [name, status] of cases) {
        const response = await new Promise((resolve, reject) => {
          const headers = name === null ? {} : { Host: name };
          http.get({ host: '127.0.0.1', port, path: '/plugin_0fake?mode=env', headers, setHost: false }, resolve).on('error', reject);
        });
        response.resume();
        assert.equal(response.statusCode, status, `Host ${name}`);
        if (status === 403) assert.equal(response.headers['content-type'], 'text/plain; charset=utf-8');
      }
    }));

  test('the command line prints its address and serves', async () => {
    const child = spawn(process.execPath, [path.join(__dirname, '../../tools/author/serve.js'), '--port', '0', '--plugins', dir], { stdio: ['ignore', 'pipe', 'inherit'] });
    try {
      let output = '';
      const address = await new Promise((resolve, reject) => {
        child.stdout.on('data', (chunk) => {
          output += chunk;
          const match = /listening on (http:\/\/127\.0\.0\.1:\d+\/)/.exec(output);
          if (match) resolve(match[1]);
        });
        child.on('exit', () => reject(new Error(`exited early: ${output}`)));
      });
      const response = await fetch(new URL('/plugin_0fake?mode=lf', address));
      assert.equal(response.status, 418);
    } finally {
      child.kill();
    }
  });

  // A wrong option is refused with the usage, before anything listens (a server that started would
  // run into the time limit).
  const wrong = [
    [['stray'], "Unexpected argument 'stray'"],
    [['--port'], "Option '--port <value>' argument missing"],
    [['--port', '65536'], '--port needs a number from 0 to 65535'],
    [['--timeout', '0'], '--timeout needs a positive number of milliseconds'],
  ];
  for (const [args, message] of wrong) {
    test(`the command line refuses ${args.join(' ')}`, () => {
      const run = spawnSync(process.execPath, [path.join(__dirname, '../../tools/author/serve.js'), '--plugins', dir, ...args], { encoding: 'utf8', timeout: 10000 });
      assert.equal(run.status, 2, run.stderr);
      assert.ok(run.stderr.startsWith(`serve: ${message}`), run.stderr);
      assert.ok(run.stderr.endsWith('\nusage: tools/author/serve.js [--port 8080] [--plugins DIR] [--password PW] [--timeout MS] [--watch REPO]\n'), run.stderr);
    });
  }
});

describe('rebuilding on save, with a stand-in for make', () => {
  const SETTLE_MS = 200; // as in tools/author/serve/watch.js
  const QUIET_MS = 3 * SETTLE_MS;
  const WAIT_LIMIT_MS = 10000; // a request held past this by builds that never end fails the test
  // Stands in for make: reads src/a.txt, records what it read when it starts and when it ends,
  // takes the milliseconds it is given, and leaves what a build leaves: files under build/ and an
  // executable at the top.
  const FAKE_BUILD = `
const fs = require('node:fs');
const source = fs.readFileSync('src/a.txt', 'utf8');
const record = (when) => fs.appendFileSync('builds.txt', when + ' ' + source + '\\n');
record('start');
setTimeout(() => {
  fs.mkdirSync('build', { recursive: true });
  fs.writeFileSync('build/a.inc', String(Date.now()));
  fs.writeFileSync('plugin_made', '#!/bin/sh\\n', { mode: 0o755 });
  record('end');
}, Number(process.argv[2]));
`;
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

  // Runs `use` against a host watching a new folder whose src/a.txt says "first", once its start-up
  // build is done. builds() gives the records of the builds since.
  async function withWatchedFolder(buildMs, use) {
    const repository = fs.mkdtempSync(path.join(os.tmpdir(), 'plugin-watch-'));
    const builder = path.join(dir, 'fake-build.js');
    fs.writeFileSync(builder, FAKE_BUILD);
    fs.mkdirSync(path.join(repository, 'src'));
    fs.writeFileSync(path.join(repository, 'src', 'a.txt'), 'first');
    fs.writeFileSync(path.join(repository, 'Makefile'), '');
    const host = await start({
      port: 0, plugins: repository, watch: repository, log: null, buildCommand: [process.execPath, builder, String(buildMs)],
    });
    const records = () => fs.readFileSync(path.join(repository, 'builds.txt'), 'utf8').trim().split('\n');
    try {
      const frontPage = async () => (await fetch(host.url, { signal: AbortSignal.timeout(WAIT_LIMIT_MS) })).text();
      await frontPage();
      assert.deepEqual(records(), ['start first', 'end first']);
      const save = (file, text) => fs.writeFileSync(path.join(repository, file), text);
      await use({ save, frontPage, builds: () => records().slice(2), repository });
    } finally {
      await host.close();
      fs.rmSync(repository, { recursive: true, force: true });
    }
  }

  test('two saves in quick succession give one build, of the last', () =>
    withWatchedFolder(0, async ({ save, frontPage, builds }) => {
      save('src/a.txt', 'half');
      await sleep(30);
      save('src/a.txt', 'whole');
      await sleep(SETTLE_MS / 2);
      await frontPage();
      assert.deepEqual(builds(), ['start whole', 'end whole']);
      await sleep(QUIET_MS);
      assert.deepEqual(builds(), ['start whole', 'end whole']);
    }));

  test('a save during a build schedules one more, and the next request waits for it', () =>
    withWatchedFolder(800, async ({ save, frontPage, builds }) => {
      save('src/a.txt', 'one');
      while (!builds().includes('start one')) await sleep(20);
      save('src/a.txt', 'two');
      await sleep(SETTLE_MS / 2);
      await frontPage();
      assert.deepEqual(builds(), ['start one', 'end one', 'start two', 'end two']);
    }));

  test('what builds, editors and npm leave starts no build; the Makefile does', () =>
    withWatchedFolder(0, async ({ save, frontPage, builds, repository }) => {
      for (const folder of ['node_modules/x', 'src/build']) fs.mkdirSync(path.join(repository, folder), { recursive: true });
      const ignored = ['README.md', 'plugin_other', 'build/b.inc', 'node_modules/x/y.js', 'src/build/c', 'src/.a.txt.swp', 'src/a.txt~', 'src/#a.txt#'];
      for (const file of ignored) save(file, 'x');
      await sleep(QUIET_MS);
      assert.deepEqual(builds(), []);
      save('Makefile', 'all:\n');
      await sleep(SETTLE_MS / 2);
      await frontPage();
      assert.deepEqual(builds(), ['start first', 'end first']);
    }));
});

describe('make serve', () => {
  // A password typed on make's command line reaches the plugin as typed, "$" included (make does
  // not expand it), and nothing make prints shows it.
  const passwords = ["it's", 'a"b', '$HOME', 'a b', 'back\\slash', 'a$$b'];
  const environment = { ...process.env };
  for (const name of ['MAKEFLAGS', 'MFLAGS', 'MAKELEVEL', 'BOT_PASSWORD']) delete environment[name];

  for (const password of passwords) {
    test(`PASSWORD=${password}`, async () => {
      const child = spawn('make', ['serve', `PASSWORD=${password}`, 'PORT=0', `SERVE_DIR=${dir}`], {
        cwd: path.join(__dirname, '../..'), env: environment, stdio: ['ignore', 'pipe', 'pipe'], detached: true,
      });
      let output = '';
      try {
        const address = await new Promise((resolve, reject) => {
          const read = (chunk) => {
            output += chunk;
            const match = /listening on (http:\/\/127\.0\.0\.1:\d+\/)/.exec(output);
            if (match) resolve(match[1]);
          };
          child.stdout.on('data', read);
          child.stderr.on('data', read);
          child.on('exit', () => reject(new Error(`make serve ended: ${output}`)));
        });
        const response = await fetch(new URL('/plugin_0fake?mode=env', address));
        assert.equal((await response.json()).BOT_PASSWORD, password);
        assert.ok(!output.includes(password), output);
      } finally {
        process.kill(-child.pid, 'SIGTERM');
      }
    });
  }
});
