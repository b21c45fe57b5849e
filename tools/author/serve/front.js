// The front page "/": the plugins with each one's page embedded, a place to store a node password
// as the host's pages do, and, when rebuilding on save, the build's state. Its skeleton, style and
// script are the files in front/, read once; "@NAME@" in them marks what is filled in.
'use strict';

const fs = require('node:fs');
const path = require('node:path');

// Where the front page's script listens for builds: server-sent events carrying the generation of
// what is served.
const EVENTS_PATH = '/build-events';

// Fills each @NAME@ in the template with values.NAME, in one pass: what is filled in is not looked
// at again, so text from a plugin or a build cannot fill a mark itself.
function fill(template, values) {
  return template.replace(/@([A-Z]+)@/g, (mark, name) => {
    if (!(name in values)) throw new Error(`nothing to fill ${mark} with`);
    return values[name];
  });
}

const read = (name) => fs.readFileSync(path.join(__dirname, 'front', name), 'utf8');
const SKELETON = read('index.html');
const STYLE = read('style.css');
const SCRIPT = fill(read('script.js'), { EVENTS: EVENTS_PATH });

function escapeHtml(text) {
  return String(text).replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' })[c]);
}

function pluginSection(plugin) {
  const hub = `/plugins?plugin=${encodeURIComponent(plugin.slug)}`;
  const name = escapeHtml(plugin.name);
  return `<section class='box' id='plugin-${escapeHtml(plugin.slug)}'><h2>${name}</h2>` +
    `<p class='muted'>${escapeHtml(plugin.desc || (plugin.metaOk ? '' : 'no meta record'))} &middot; ` +
    `<a href='/plugin_${escapeHtml(plugin.slug)}'>open page</a> &middot; <a href='${escapeHtml(hub)}'>through the hub</a></p>` +
    `<iframe title='${name}' data-src='${escapeHtml(`${hub}&embed=1`)}'></iframe></section>`;
}

// The front page. `build` is null unless the server rebuilds on save; then it is
// { ok, output, generation, repo, command }, and a failed build's message, escaped, takes the
// place of the plugins.
function frontPage(plugins, passwordRequired, build) {
  let watching = '';
  let content = plugins.map(pluginSection).join('') || `<p class='box muted'>No executables named plugin_* in this folder.</p>`;
  if (build) {
    const command = escapeHtml(build.command.join(' '));
    watching = `<p class='muted'>Watching src/, platform/ and the Makefile in ${escapeHtml(build.repo)}: a save runs ` +
      `<code>${command}</code> there, and this page reloads when the build is done.</p>\n`;
    if (!build.ok) {
      content = `<section class='box failed' id='build-error'><h2>The build failed</h2>` +
        `<p class='muted'><code>${command}</code> ended with an error, so no plugin is served: every plugin route ` +
        `answers 502 with this message until a save builds again.</p><pre class='build'>${escapeHtml(build.output)}</pre></section>`;
    }
  }
  return fill(SKELETON, {
    STYLE,
    SCRIPT,
    LOCKED: passwordRequired ? '1' : '0',
    BUILD: build ? ` data-build='${escapeHtml(build.generation)}'` : '',
    PASSWORD: passwordRequired ? 'required by this server' : 'not set on this server',
    WATCHING: watching,
    CONTENT: content,
  });
}

module.exports = { EVENTS_PATH, frontPage };
