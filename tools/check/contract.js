#!/usr/bin/env node
'use strict';
// Checks any plugin executable against the host contract (docs/contract.md); --help says how.
// Its parts are in contract/; tools/check/contract/bundle.js makes them one file for dist/.
require('./contract/cli')
  .main(process.argv.slice(2))
  .then((status) => (process.exitCode = status));
