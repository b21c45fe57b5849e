#!/usr/bin/env node
'use strict';
// Checks any plugin executable against the host contract (docs/contract.md); --help says how.
// Its parts are the other modules of this folder; bundle.js makes them one file for dist/.
require('./cli')
  .main(process.argv.slice(2))
  .then((status) => (process.exitCode = status));
