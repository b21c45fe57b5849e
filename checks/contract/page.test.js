'use strict';
// What the host and the browser rely on in the page, whatever a plugin puts on it: the header
// block, a document that ends with its script, and a script that writes text, never markup.
const test = require('node:test');
const assert = require('node:assert/strict');
const { run, HTML_HEADER } = require('../support/plugin');

for (const query of ['', 'embed=1'])
  test(`the page for ${JSON.stringify(query)}: a document opened by the header block and ended by its script`, () => {
    const out = run({ query }).out;
    assert.ok(out.startsWith(HTML_HEADER + '<!DOCTYPE html>\n'), out.slice(0, 200));
    const scriptAt = out.lastIndexOf('<script>\n');
    assert.ok(scriptAt > 0 && out.endsWith('\n</script></body></html>\n'), out.slice(-200));
    const script = out.slice(scriptAt, -'\n</script></body></html>\n'.length);
    assert.equal(script.indexOf('</script>'), -1, 'one script, last in the document');
    assert.doesNotMatch(script, /innerHTML|outerHTML|insertAdjacentHTML|document\.write/);
  });
