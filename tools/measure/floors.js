'use strict';
// What the bench measures: each build of the plugin (native, dynamic against glibc; musl, static)
// and, for each request, two floors, C programs that write the plugin's answer in one write and
// exit (floor.c): the same-flags floor, built with the plugin's compiler and link flags, and the
// plain floor, built with the system's defaults (gcc -O2 -s; musl-gcc -O2 -static -s).
const fs = require('node:fs');
const path = require('node:path');
const { fail, words, hostEnv, runOk } = require('./run.js');

const OUT = 'build/bench';
const env = process.env;
const CXXFLAGS = words(env.CXXFLAGS ?? '-O2');
const LDFLAGS = words(env.LDFLAGS ?? '');

// The compilers and link flags of the Makefile's native and musl builds, and the plain floors'.
function builds(program) {
  return [
    {
      name: 'native',
      executable: env.BENCH_NATIVE || `./${program}`,
      compiler: env.CXX || 'g++',
      link: [...words(env.NATIVE_LINK ?? '-Wl,--as-needed'), ...LDFLAGS],
      plain: ['gcc', '-O2', '-s'],
    },
    {
      name: 'musl',
      executable: env.BENCH_MUSL || `./${program}-musl`,
      compiler: env.MUSL_CXX || 'g++',
      link: ['-specs', env.MUSL_SPECS || '/usr/lib/x86_64-linux-musl/musl-gcc.specs', ...words(env.MUSL_LINK ?? '-static -s')],
      plain: ['musl-gcc', '-O2', '-static', '-s'],
    },
  ];
}

const REQUESTS = [
  { name: 'page', env: { QUERY_STRING: '' } },
  { name: 'info', env: { QUERY_STRING: 'action=info' }, live: true },
  { name: 'echo', env: { QUERY_STRING: 'action=echo&msg=hello%2C+world' } },
  { name: '401', env: { BOT_PASSWORD: 's3cret', QUERY_STRING: 'action=info' } },
  { name: '--meta', env: {}, args: ['--meta'] },
];

function compileC(compiler, source, output, flags) {
  runOk(compiler, ['-x', 'c', ...CXXFLAGS, '-o', output, source, ...flags]);
}

// Copies each build (so that a rebuild while the bench runs changes nothing it measures), captures
// each of its answers and compiles the two floors that write it, which must write the same bytes.
// Each build gets { program, answers, floors, plainFloors } by request name.
function buildFloors(program, measured) {
  fs.mkdirSync(OUT, { recursive: true });
  compileC(env.CXX || 'g++', 'tools/measure/peak-rss.c', `${OUT}/peak-rss`, LDFLAGS);
  for (const build of measured) {
    if (!fs.existsSync(build.executable)) fail(`${build.executable} is missing: run make bench`);
    fs.mkdirSync(`${OUT}/${build.name}`, { recursive: true });
    build.program = `./${OUT}/${build.name}/${program}`;
    fs.copyFileSync(build.executable, build.program);
    Object.assign(build, { answers: {}, floors: {}, plainFloors: {} });
    for (const request of REQUESTS) {
      const answer = runOk(build.program, request.args ?? [], { env: hostEnv(request.env) }).stdout;
      const slug = request.name.replace(/^-+/, '');
      const bytes = path.resolve(`${OUT}/${build.name}/${slug}.inc`);
      fs.writeFileSync(bytes, [...answer].join(',') + '\n');
      const floor = `./${OUT}/${build.name}/floor-${slug}`;
      compileC(build.compiler, 'tools/measure/floor.c', floor, [`-DANSWER="${bytes}"`, ...build.link]);
      const plain = `./${OUT}/${build.name}/plain-${slug}`;
      const [compiler, ...flags] = build.plain;
      runOk(compiler, [...flags, `-DANSWER="${bytes}"`, '-o', plain, 'tools/measure/floor.c']);
      for (const made of [floor, plain])
        if (!runOk(made, []).stdout.equals(answer)) fail(`${made} does not write the plugin's ${request.name} answer byte for byte`);
      build.answers[request.name] = answer;
      build.floors[request.name] = floor;
      build.plainFloors[request.name] = plain;
    }
  }
}

module.exports = { OUT, REQUESTS, builds, buildFloors };
