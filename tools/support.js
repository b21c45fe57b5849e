'use strict';
// Where the tools and the checks meet: the one module by which a check uses a tool's parts, and a
// tool the test kit's. Nothing else in checks/ requires from tools/, nor in tools/ from checks/.
// Each part is loaded when first asked for, so that asking for one starts nothing of the others.
const lazily = (file) => {
  let loaded;
  return () => (loaded ??= require(file));
};
const parts = {
  // For the checks: the stand-in host of `make serve`, and the contract checker's rules and the
  // version of the contract they are.
  standInHost: lazily('./author/serve/server.js'),
  contractRules: lazily('./check/contract/rules'),
  contractVersions: lazily('./check/contract/versions.js'),
  // For the tools: the test kit's plugin runner, golden answers and browser driver.
  plugin: lazily('../checks/support/plugin.js'),
  golden: lazily('../checks/support/golden.js'),
  browser: lazily('../checks/support/browser.js'),
};
module.exports = Object.defineProperties({}, Object.fromEntries(
  Object.entries(parts).map(([name, load]) => [name, { get: load, enumerable: true }])));
