'use strict';
// What each build links against: the native one the C library alone, the musl one nothing at all,
// the Windows one system DLLs only, so each runs on a bare node of its kind; and which of them
// make install puts in place.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { existsSync } = fs;
const { spawnSync } = require('node:child_process');
const { PROGRAM, identity } = require('../support/plugin');

const tool = (name, args) => {
  const result = spawnSync(name, args);
  if (result.error) return null;
  return result.stdout.toString();
};
const absent = (file) => !existsSync(file) && `${file} is not built`;

test('the native build needs the C library alone', { skip: absent(PROGRAM) }, () => {
  const dynamic = tool('readelf', ['-d', PROGRAM]);
  const needed = [...dynamic.matchAll(/\(NEEDED\).*\[(.+)\]/g)].map((m) => m[1]);
  assert.deepEqual(needed.filter((lib) => !/^libc\.so/.test(lib)), [], dynamic);
});

test('the musl build is static: it has no dynamic section', { skip: absent(`${PROGRAM}-musl`) }, () => {
  const dynamic = tool('readelf', ['-d', `${PROGRAM}-musl`]);
  assert.match(dynamic, /There is no dynamic section/);
  const headers = tool('readelf', ['-l', `${PROGRAM}-musl`]);
  assert.doesNotMatch(headers, /INTERP/);
});

test('the Windows build imports system DLLs only', { skip: absent(`${PROGRAM}.exe`) }, () => {
  const objdump = ['x86_64-w64-mingw32-objdump', 'objdump'].find((name) => tool(name, ['--version']) !== null);
  const dump = tool(objdump, ['-p', `${PROGRAM}.exe`]);
  const imports = [...dump.matchAll(/DLL Name: (\S+)/g)].map((m) => m[1].toLowerCase());
  assert.ok(imports.length > 0, 'no import table found');
  const system = ['kernel32.dll', 'msvcrt.dll', 'user32.dll', 'advapi32.dll', 'ntdll.dll', 'ws2_32.dll'];
  assert.deepEqual(imports.filter((dll) => !system.includes(dll) && !dll.startsWith('api-ms-win-')), []);
});

// make install picks the static musl build where musl is installed, the native one elsewhere, and
// either way leaves a working plugin and says which it installed.
test('make install installs the fastest build there is, and says which', async (t) => {
  const musl = '/usr/lib/x86_64-linux-musl/musl-gcc.specs';
  // [case, variables, static executable expected, what make says]
  const table = [
    ['musl present', [], true, /^install: installed the static musl build$/m],
    ['no musl', ['MUSL_SPECS=/nonexistent/musl-gcc.specs'], false, /^install: installed the native build\ninstall: .*musl-tools/m],
  ];
  for (const [name, variables, isStatic, says] of table)
    await t.test(name, { skip: isStatic && !existsSync(musl) && `needs ${musl}` }, () => {
      const destination = fs.mkdtempSync(path.join(os.tmpdir(), 'install-'));
      const made = spawnSync('make', ['-s', 'install', `DESTDIR=${destination}`, 'PLUGINS_DIR=/plugins', ...variables], { encoding: 'utf8' });
      assert.equal(made.status, 0, made.stderr);
      assert.match(made.stdout, says);
      const installed = path.join(destination, `plugins/${PROGRAM}`);
      assert.equal(/INTERP/.test(tool('readelf', ['-l', installed])), !isStatic);
      assert.equal(spawnSync(installed, ['--meta']).stdout.toString(), identity().meta);
      fs.rmSync(destination, { recursive: true });
    });
});

// The page's files are listed once, in order, in the Makefile's PAGE_FILES: a page file left out
// of it, a listed file that is not there, or one listed twice stops the build, naming the file.
test('a page file left out of PAGE_FILES, missing or listed twice stops the build, naming it', async (t) => {
  const files = fs.readdirSync('src/page').filter((file) => !file.startsWith('.'));
  const [first, ...rest] = files;
  // [case, PAGE_FILES, what make says]
  const table = [
    ['left out', rest, `src/page/${first} is not in PAGE_FILES`],
    ['missing', [...files, 'missing.html'], 'missing.html is in PAGE_FILES in the Makefile but not in src/page/'],
    ['listed twice', [...files, first], `${first} is listed twice in PAGE_FILES`],
  ];
  for (const [name, list, says] of table)
    await t.test(name, () => {
      const made = spawnSync('make', ['-n', '-B', 'build/page/page.inc', `PAGE_FILES=${list.join(' ')}`], { encoding: 'utf8' });
      assert.notEqual(made.status, 0);
      assert.ok(made.stderr.includes(says), made.stderr);
    });
});
