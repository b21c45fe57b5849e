// Finding the plugins in a folder: the executables named plugin_<slug>, and what each one's meta
// record says of it.
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { runPlugin } = require('./run.js');

// Lower-case letters, digits and "_" only: no dot or slash, so a slug cannot leave the folder.
const SLUG = /^[a-z0-9_]+$/;
const PLUGIN_FILE = /^plugin_([a-z0-9_]+)$/;

function isExecutableFile(file) {
  try {
    if (!fs.statSync(file).isFile()) return false;
    fs.accessSync(file, fs.constants.X_OK);
    return true;
  } catch {
    return false;
  }
}

// The path of plugin_<slug> in the folder, or null when the slug is unsafe or no such executable
// exists.
function pluginPath(dir, slug) {
  if (typeof slug !== 'string' || !SLUG.test(slug)) return null;
  const file = path.join(dir, `plugin_${slug}`);
  return isExecutableFile(file) ? file : null;
}

// The names in the folder that are plugins' by their form, sorted; none when it cannot be read.
function pluginNames(dir) {
  try {
    return fs.readdirSync(dir).filter((name) => PLUGIN_FILE.test(name)).sort();
  } catch {
    return [];
  }
}

// Every plugin in the folder with its meta record: [{ slug, file, name, desc, metaOk }], by slug.
// A plugin whose meta record cannot be read is listed by its slug.
function listPlugins(dir, timeoutMs) {
  const found = pluginNames(dir)
    .filter((name) => isExecutableFile(path.join(dir, name)))
    .map((name) => ({ slug: PLUGIN_FILE.exec(name)[1], file: path.join(dir, name) }));
  return Promise.all(found.map(async (plugin) => {
    const run = await runPlugin(plugin.file, ['--meta'], {}, timeoutMs);
    let meta = null;
    if (!run.error && run.code === 0 && !run.timedOut) {
      try {
        meta = JSON.parse(run.stdout.toString('utf8').split('\n')[0]);
      } catch {
        meta = null;
      }
    }
    const metaOk = meta !== null && typeof meta === 'object';
    return {
      ...plugin,
      name: metaOk && typeof meta.name === 'string' ? meta.name : plugin.slug,
      desc: metaOk && typeof meta.desc === 'string' ? meta.desc : '',
      metaOk,
    };
  }));
}

// A fingerprint of the plugin executables in the folder: it changes when a build replaces one.
function executablesStamp(dir) {
  return pluginNames(dir).map((name) => {
    const stat = fs.statSync(path.join(dir, name), { throwIfNoEntry: false });
    return stat ? `${name}:${stat.mtimeMs}:${stat.size}` : name;
  }).join('|');
}

module.exports = { SLUG, pluginPath, listPlugins, executablesStamp };
