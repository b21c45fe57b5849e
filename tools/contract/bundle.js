#!/usr/bin/env node
'use strict';
// Writes the checker as one file that needs only Node.js: its entry, tools/contract/cli.js, and
// every module of tools/ that it requires, near or far (the host's own reading and running of a
// plugin in tools/plugin/, and tools/cli.js, the way every command of the kit reads its
// arguments), each wrapped in a function of its own, with a require() that finds them by their
// relative paths and leaves the rest (Node.js's built-in modules) to Node.js. The same sources give
// the same bytes.
//   node tools/contract/bundle.js OUT     (make dist writes dist/plugin-contract.js)
const fs = require('node:fs');
const path = require('node:path');
const { CONTRACT_VERSION, CHECKER_VERSION } = require('./versions');

// The modules are named by their paths in tools/, which their relative requires follow.
const TOOLS = path.join(__dirname, '..');
const ENTRY = 'contract/cli.js';

// The module a relative `request` of module `from` names, as a path in tools/.
function resolved(from, request) {
  const name = path.posix.join(path.posix.dirname(from), request);
  return [name, `${name}.js`, `${name}/index.js`].find((candidate) => fs.existsSync(path.join(TOOLS, candidate)) && candidate.endsWith('.js'));
}

// The entry and every module it requires, near or far, as paths relative to TOOLS, sorted.
function modules() {
  const found = new Set([ENTRY]);
  for (const name of found) {
    const source = fs.readFileSync(path.join(TOOLS, name), 'utf8');
    for (const [, request] of source.matchAll(/require\('(\.{1,2}\/[^']+)'\)/g)) found.add(resolved(name, request));
  }
  return [...found].sort();
}

// The loader: a module's require('./x') or require('../x/y') names another module; anything else
// is Node.js's.
function loader() {
  const cache = {};
  const resolve = (from, request) => {
    const parts = from.split('/').slice(0, -1);
    for (const part of request.split('/')) {
      if (part === '..') parts.pop();
      else if (part !== '.') parts.push(part);
    }
    const name = parts.join('/');
    return [name, `${name}.js`, `${name}/index.js`].find((candidate) => candidate in SOURCES);
  };
  const load = (name) => {
    if (!cache[name]) {
      const module = { exports: {} };
      cache[name] = module;
      SOURCES[name](module, module.exports, (request) => {
        if (!request.startsWith('.')) return require(request);
        const found = resolve(name, request);
        if (!found) throw new Error(`${name}: no module ${request} in this file`);
        return load(found).exports;
      });
    }
    return cache[name];
  };
  return load;
}

function bundle() {
  const parts = [
    '#!/usr/bin/env node',
    `// plugin-contract.js: checks a plugin executable, in any language, against the host contract`,
    `// ${CONTRACT_VERSION} (checker ${CHECKER_VERSION}). One file that needs only Node.js:`,
    '//   node plugin-contract.js [--format text|json|junit|tap] [--strict] PLUGIN    (--help says more)',
    '// Made by tools/contract/bundle.js from tools/contract/cli.js and the modules of tools/ it requires.',
    "'use strict';",
    'const SOURCES = {',
  ];
  for (const name of modules()) {
    const source = fs.readFileSync(path.join(TOOLS, name), 'utf8').replace(/^#!.*\n/, '');
    parts.push(`${JSON.stringify(name)}: function (module, exports, require) {`, source.trimEnd(), '},');
  }
  parts.push(
    '};',
    `const load = (${loader.toString()})();`,
    `load(${JSON.stringify(ENTRY)}).exports.main(process.argv.slice(2)).then((status) => (process.exitCode = status));`,
    '',
  );
  return parts.join('\n');
}

if (require.main === module) {
  const { command } = require('../cli.js');
  const USAGE = 'usage: node tools/contract/bundle.js OUT\nWrites the contract checker as one file, OUT.';
  const { positionals: [out] } = command('bundle', USAGE, { positionals: ['OUT'] });
  fs.mkdirSync(path.dirname(path.resolve(out)), { recursive: true });
  fs.writeFileSync(out, bundle(), { mode: 0o755 });
}

module.exports = { bundle };
