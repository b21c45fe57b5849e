'use strict';
// Every rule, in the order the report and docs/contract.md list them.
module.exports = [
  ...require('./identity'),
  ...require('./frame'),
  ...require('./gate'),
  ...require('./process'),
  ...require('./input'),
  ...require('./hosts'),
  ...require('./shape'),
  ...require('./server'),
  ...require('./cost'),
];
