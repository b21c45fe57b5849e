'use strict';
// What the bench measures: each build of the plugin (native, dynamic against glibc; static, the
// build of make musl, which starts without a C library) and, for each request, two floors that
// write the plugin's answer byte for byte in one write and exit (tools/plugin/floor.js):
//   the raw floor    no C library at all: the kernel starts it at an entry point that makes the
//                    write and exits (gcc -O2 -static -nostdlib -s); the least a process can cost,
//                    the same for both builds
//   the plain floor  the plainest C program of the build's kind, built with the system's defaults
//                    (gcc -O2 -s for the native build, musl-gcc -O2 -static -s for the static one)
const fs = require('node:fs');
const path = require('node:path');
const { fail, hostEnv, runOk } = require('./run.js');
const { buildFloor } = require('../plugin/floor.js');
const { runOnce } = require('../plugin/run.js');

const OUT = 'build/bench';
const env = process.env;

function builds(program) {
  return [
    { name: 'native', executable: env.BENCH_NATIVE || `./${program}`, plain: ['gcc', '-O2', '-s'] },
    { name: 'static', executable: env.BENCH_STATIC || `./${program}-musl`, plain: ['musl-gcc', '-O2', '-static', '-s'] },
  ];
}

const REQUESTS = [
  { name: 'page', env: { QUERY_STRING: '' } },
  { name: 'info', env: { QUERY_STRING: 'action=info' } },
  { name: 'echo', env: { QUERY_STRING: 'action=echo&msg=hello%2C+world' } },
  { name: '401', env: { BOT_PASSWORD: 's3cret', QUERY_STRING: 'action=info' } },
  { name: '--meta', env: {}, args: ['--meta'] },
];
const RAW = ['gcc', '-O2', '-static', '-nostdlib', '-s'];

// Copies each build (so that a rebuild while the bench runs changes nothing it measures), captures
// each of its answers and compiles the floors that write it, which must write the same bytes. Each
// build gets { program, answers, rawFloors, plainFloors } by request name.
function buildFloors(program, measured) {
  fs.mkdirSync(OUT, { recursive: true });
  for (const build of measured) {
    if (!fs.existsSync(build.executable)) fail(`${build.executable} is missing: run make bench`);
    fs.mkdirSync(`${OUT}/${build.name}`, { recursive: true });
    build.program = `./${OUT}/${build.name}/${program}`;
    fs.copyFileSync(build.executable, build.program);
    Object.assign(build, { answers: {}, rawFloors: {}, plainFloors: {} });
    for (const request of REQUESTS) {
      const asked = runOnce([build.program], request.args ?? [], hostEnv(request.env));
      if (asked.status !== 0) fail(`${build.program} ${request.name}: ${asked.error?.message ?? `exit ${asked.status}`}`);
      const answer = asked.stdout;
      const slug = request.name.replace(/^-+/, '');
      const directory = path.resolve(`${OUT}/${build.name}`);
      const floors = [
        [build.rawFloors, `raw-${slug}`, RAW, { raw: true }],
        [build.plainFloors, `plain-${slug}`, build.plain, {}],
      ];
      for (const [kept, name, compiler, kind] of floors) {
        let floor;
        try {
          floor = buildFloor(compiler, directory, name, answer, kind);
        } catch (error) {
          fail(error.message);
        }
        if (!runOk(floor, []).stdout.equals(answer)) fail(`${floor} does not write the plugin's ${request.name} answer byte for byte`);
        kept[request.name] = floor;
      }
      build.answers[request.name] = answer;
    }
  }
}

module.exports = { OUT, REQUESTS, builds, buildFloors };
