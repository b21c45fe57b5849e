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
const { copyForBuild } = require('../../tools/plugin/checkout.js');

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

// The page writer in the plugin's source sends the page's files by name (page::load_html for
// src/page/load.html): a file it does not send, or one whose name cannot be such a name, stops
// the build, naming the file.
test('a page file the page writer does not send, or cannot name, stops the build, naming it', async (t) => {
  const folder = copyForBuild();
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  // [case, the page file added, what make says]
  const table = [
    ['not sent', 'load.html', `src/page/load.html is not sent: put page::load_html among the page's pieces in mode_html (src/${PROGRAM}.cpp)`],
    ['a name with a sign', 'a+b.html', "src/page/a+b.html: name page files with a-z, 0-9, - and _, and a dot before the extension"],
    ['a name from a digit', '2nd.html', "src/page/2nd.html: a page file's name starts with a letter"],
  ];
  for (const [name, file, says] of table)
    await t.test(name, () => {
      const added = path.join(folder, 'src', 'page', file);
      fs.writeFileSync(added, '<p>more</p>\n');
      try {
        const made = spawnSync('make', ['build/page/page.inc'], { cwd: folder, encoding: 'utf8' });
        assert.notEqual(made.status, 0);
        assert.ok(made.stderr.includes(says), made.stderr);
      } finally {
        fs.rmSync(added);
      }
    });
});
