'use strict';
// The report as one JSON document: every rule with its id, level and status, and for each failure
// or warning every run with what was expected, what came and the replay line.
const format = (report) => JSON.stringify(report, null, 2) + '\n';

module.exports = { format };
