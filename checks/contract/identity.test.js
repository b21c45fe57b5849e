'use strict';
// What the plugin says of itself must hold together: the host lists it by its meta record, finds
// it as plugin_<slug>, and the page calls the actions it names back on that route.
const test = require('node:test');
const assert = require('node:assert/strict');
const { run, identity, jsonAnswer, UNKNOWN_ACTION } = require('../support/plugin');

const { meta, versionLine, version, slug, plugin, supported } = identity();

test('the version line, the info record and the executable agree on who the plugin is', () => {
  assert.match(versionLine, /^\S+\n$/);
  assert.equal(version + '\n', versionLine);
  assert.match(slug, /^[a-z][a-z0-9_]*$/);
  assert.equal(plugin, 'plugin_' + slug);
});

test('the page calls its JSON answers on its own route', () => {
  assert.ok(run({ query: '' }).out.includes(`/plugin_${slug}?action=`));
});

test('every action the plugin names answers, and one it does not name is refused', async (t) => {
  const refused = jsonAnswer(run({ query: 'action=' + UNKNOWN_ACTION }).out);
  assert.equal(refused.ok, false);
  assert.equal(typeof refused.error, 'string');
  assert.equal(refused.action, UNKNOWN_ACTION);
  assert.ok(supported.length > 0 && new Set(supported).size === supported.length, `${supported}`);
  for (const action of supported)
    await t.test(action, () => {
      const answer = jsonAnswer(run({ query: 'action=' + encodeURIComponent(action) }).out);
      assert.ok(answer.ok || answer.error !== refused.error, `${action} is answered as unknown`);
    });
});
