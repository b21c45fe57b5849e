'use strict';
// Which plugin a checkout is. Its one source file, src/plugin_NAME.cpp, names it: rename that file
// and the executable, the meta and info records, the page's routes and the hints follow. This is
// where the kit's tools and checks read the name; the Makefile reads the same file for the build,
// which needs nothing but make. And a copy of what make needs, to build elsewhere.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

// A plugin's name: it stands in JSON strings, in the page's markup and script, and in a route.
const NAME = /^[a-z][a-z0-9_]*$/;
const SOURCE_FILE = /^plugin_(.+)\.cpp$/;
const sourceOf = (name) => `src/plugin_${name}.cpp`;

// The plugin's name among the file names of a src/ folder, or null when they hold no one source.
function nameAmong(files) {
  const names = files.map((file) => SOURCE_FILE.exec(file)?.[1]).filter(Boolean);
  return names.length === 1 ? names[0] : null;
}

// The plugin's name in the checkout at `root`, or null.
const nameIn = (root) => nameAmong(fs.readdirSync(path.join(root, 'src')));

// This checkout: the kit's own folder, and its plugin.
const REPOSITORY = path.resolve(__dirname, '..', '..');
const THIS_NAME = nameIn(REPOSITORY);
const PROGRAM = THIS_NAME && `plugin_${THIS_NAME}`;

// What `make` needs to build the plugin: the Makefile and what it reads and runs.
const BUILD_INPUTS = ['Makefile', 'src', 'platform', 'checks/debug', 'tools/cli.sh', 'tools/build', 'tools/fork/markers', 'tools/install-deps'];

// Copies what `make` needs from `repository` into `folder` (a new temporary one when not given),
// to build elsewhere, or to edit the sources and rebuild them. Returns the folder; the caller
// removes it.
function copyForBuild(repository = REPOSITORY, folder = fs.mkdtempSync(path.join(os.tmpdir(), 'plugin-build-'))) {
  for (const input of BUILD_INPUTS) fs.cpSync(path.join(repository, input), path.join(folder, input), { recursive: true });
  return folder;
}

module.exports = { NAME, sourceOf, nameAmong, nameIn, REPOSITORY, THIS_NAME, PROGRAM, copyForBuild };
