'use strict';
// This plugin's golden answers: the requests of its own actions, whose exact answers `make golden`
// keeps in test/golden/NAME.txt and `make test` holds every build to. The kit asks every plugin the
// questions every plugin answers besides (its meta record and version, the page and the embedded
// page, the info record, an unknown action and a refusal); list here what your own actions answer.
//
// A new action or a new kind of request is one more row, then `make golden` and a look at the diff
// it prints. A row may also say:
//   live      the JSON members whose values change from run to run (of any type: a load average, a
//             list of processes), written in the golden file as a placeholder, "load1":<load1>; the
//             node facts are masked in every answer without being named
//   perBuild  the builds whose answer differs on purpose, by a word of the platform they report
//             (os, arch or libc: 'windows', 'none', 'aarch64'); such a build's answer is kept in
//             NAME.WORD.txt, written by `make golden` run with that build, and the row's live members
//             need not stand in it
// as in { name: 'load', query: 'action=load', live: ['load1', 'load5'], perBuild: ['windows'] }.
module.exports = [
  { name: 'echo', query: 'action=echo&msg=hi' },
  { name: 'echo-empty', query: 'action=echo' },
  { name: 'echo-escapes', query: 'action=echo&msg=%22%5C%09%0A%0D%01%1F%7F%C3%A9' },
];
