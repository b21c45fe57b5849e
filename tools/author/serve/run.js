// Running a plugin once per request, as CGI does, and reading its answer: the host's own run and
// reading (tools/plugin/), with this stand-in host's verdict on what it finds.
'use strict';

const path = require('node:path');
const { hostEnvironment, launch } = require('../../plugin/run.js');
const { readAnswer } = require('../../plugin/answer.js');

const MAX_OUTPUT_BYTES = 8 * 1024 * 1024; // far above any page; guards against a runaway plugin

// Runs a plugin executable in its own folder with the given arguments and the environment a host
// gives it. Resolves (never rejects) with launch()'s result: the answer in `stdout`, `tooLong` when
// it passed MAX_OUTPUT_BYTES and the plugin was stopped there.
const runPlugin = (file, args, request, timeoutMs) =>
  launch(file, args, { cwd: path.dirname(file), env: hostEnvironment(request), stdio: ['ignore', 'pipe', 'ignore'], limitMs: timeoutMs, mostBytes: MAX_OUTPUT_BYTES });

// The environment a request's run gets besides PATH: the query and the two credential headers
// from the request, the node password from the configuration, and nothing else.
function pluginEnvironment(rawQuery, requestHeaders, password) {
  const env = { QUERY_STRING: rawQuery };
  if (requestHeaders['x-bot-password'] !== undefined) env.HTTP_X_BOT_PASSWORD = requestHeaders['x-bot-password'];
  if (requestHeaders.authorization !== undefined) env.HTTP_AUTHORIZATION = requestHeaders.authorization;
  if (password) env.BOT_PASSWORD = password;
  return env;
}

// A fault, as the 502 that reports it needs it: `detail` for its body, and `why` for the log line,
// in fixed words, never anything the plugin wrote or the request carried (a query may hold a
// password).
const fault = (detail, why = detail) => ({ detail, why });

// Reads CGI output: header lines and a body, the block ended by the first empty line, with CRLF or
// LF line ends. Returns { status, reason, headers: [[name, value]...], body }, or { fault } when the
// output has no valid header block.
function parseCgiOutput(name, buffer) {
  const reading = readAnswer(buffer);
  if (reading.malformed !== null)
    return { fault: fault(`${name}: the plugin wrote a malformed header line: ${JSON.stringify(reading.malformed)}`, `${name} wrote a malformed header line`) };
  if (reading.lineEnd === null || reading.headers.length === 0)
    return { fault: fault(`${name}: the plugin wrote no header block`, `${name} wrote no header block`) };
  let status = 200;
  let reason = '';
  if (reading.statusLines.length > 0) {
    const parsed = /^([1-5][0-9][0-9])(?:[ \t]+(.*))?$/.exec(reading.statusLines[0]);
    if (!parsed || Number(parsed[1]) < 200)
      return { fault: fault(`${name}: the plugin wrote an invalid status: ${JSON.stringify(reading.statusLines[0])}`, `${name} wrote an invalid status`) };
    status = Number(parsed[1]);
    reason = parsed[2] || '';
  } else if (reading.headers.some((header) => header.name.toLowerCase() === 'location')) status = 302;
  return { status, reason, headers: reading.headers.map((header) => [header.name, header.value]), body: reading.body };
}

// Runs a plugin for one request, as CGI does. Resolves with its answer as parseCgiOutput gives it,
// or with { fault } when it could not start, ran too long, wrote too much, failed, or answered
// with no valid header block.
async function runCgi(file, env, timeoutMs) {
  const name = path.basename(file);
  const run = await runPlugin(file, [], env, timeoutMs);
  if (run.error) {
    return { fault: fault(`${name} could not be started: ${run.error.message}`, `${name} could not be started (${run.error.code || 'error'})`) };
  }
  let failure = null;
  if (run.timedOut) failure = `ran longer than ${timeoutMs} ms and was stopped`;
  else if (run.tooLong) failure = `wrote more than ${MAX_OUTPUT_BYTES} bytes and was stopped`;
  else if (run.signal) failure = `was ended by signal ${run.signal}`;
  else if (run.code !== 0) failure = `exited with status ${run.code}`;
  if (failure) return { fault: fault(`${name} ${failure}`) };
  return parseCgiOutput(name, run.stdout);
}

module.exports = { runPlugin, pluginEnvironment, fault, runCgi };
