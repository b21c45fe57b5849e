// Running a child once and collecting what it writes: a plugin, whose standard output is its CGI
// answer, and (for watch.js) the build. Standard library only.
'use strict';

const path = require('node:path');
const { spawn } = require('node:child_process');

const MAX_OUTPUT_BYTES = 8 * 1024 * 1024; // far above any page; guards against a runaway plugin
const PLUGIN_PATH = '/usr/local/bin:/usr/bin:/bin';

// Starts file with args, no standard input, and collects its standard output, and its standard
// error too when `stderr` is set (one text, in the order written), keeping the first `limit` bytes.
// With `killAtLimit` a child that writes more is killed. Returns { done, stop(signal) }: done
// resolves (never rejects) with { output, size (bytes written in all), code, signal, error }.
function spawnCollected(file, args, { cwd, env, stderr = false, limit, killAtLimit = false }) {
  let child = null;
  const done = new Promise((resolve) => {
    const chunks = [];
    let size = 0;
    let settled = false;
    const finish = (code, signal, error = null) => {
      if (settled) return;
      settled = true;
      resolve({ output: Buffer.concat(chunks), size, code, signal, error });
    };
    const keep = (chunk) => {
      const room = Math.max(0, limit - size);
      if (room > 0) chunks.push(chunk.subarray(0, room));
      size += chunk.length;
      if (size > limit && killAtLimit) child.kill('SIGKILL');
    };
    try {
      child = spawn(file, args, { cwd, env, stdio: ['ignore', 'pipe', stderr ? 'pipe' : 'ignore'] });
    } catch (error) {
      finish(null, null, error);
      return;
    }
    child.stdout.on('data', keep);
    if (stderr) child.stderr.on('data', keep);
    child.on('error', (error) => finish(null, null, error));
    child.on('close', (code, signal) => finish(code, signal));
  });
  const stop = (signal) => child && child.exitCode === null && child.signalCode === null && child.kill(signal);
  return { done, stop };
}

// Runs a plugin executable in its own folder with the given arguments and environment (PATH is
// added) and collects its standard output. Resolves (never rejects) with the fields of
// spawnCollected's result and timedOut, set when it ran past timeoutMs and was killed.
async function runPlugin(file, args, env, timeoutMs) {
  const run = spawnCollected(file, args, {
    cwd: path.dirname(file), env: { PATH: PLUGIN_PATH, ...env }, limit: MAX_OUTPUT_BYTES, killAtLimit: true,
  });
  let timedOut = false;
  const timer = setTimeout(() => {
    timedOut = true;
    run.stop('SIGKILL');
  }, timeoutMs);
  const result = await run.done;
  clearTimeout(timer);
  return { ...result, timedOut };
}

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

// Splits CGI output into its header lines and body. The block ends at the first empty line, with
// CRLF or LF line ends. Returns { status, reason, headers: [[name, value]...], body }, or { fault }
// when the output has no valid header block.
function parseCgiOutput(name, buffer) {
  const noBlock = { fault: fault(`${name}: the plugin wrote no header block`, `${name} wrote no header block`) };
  const crlf = buffer.indexOf('\r\n\r\n');
  const lf = buffer.indexOf('\n\n');
  let end;
  let skip;
  if (crlf !== -1 && (lf === -1 || crlf < lf)) [end, skip] = [crlf, 4];
  else if (lf !== -1) [end, skip] = [lf, 2];
  else return noBlock;
  // A CR before the LF-only terminator belongs to the last header line ("X: y\r\n\n").
  const block = buffer.subarray(0, end).toString('latin1');
  if (block.trim() === '') return noBlock;

  let status = 200;
  let reason = '';
  let location = false;
  const headers = [];
  for (const line of block.split(/\r?\n/)) {
    const match = /^([!#$%&'*+.^_`|~0-9A-Za-z-]+):[ \t]*(.*?)[ \t\r]*$/.exec(line);
    if (!match) {
      return { fault: fault(`${name}: the plugin wrote a malformed header line: ${JSON.stringify(line)}`, `${name} wrote a malformed header line`) };
    }
    const [, header, value] = match;
    const lower = header.toLowerCase();
    if (lower === 'status') {
      const parsed = /^([1-5][0-9][0-9])(?:[ \t]+(.*))?$/.exec(value);
      if (!parsed || Number(parsed[1]) < 200) {
        return { fault: fault(`${name}: the plugin wrote an invalid status: ${JSON.stringify(value)}`, `${name} wrote an invalid status`) };
      }
      status = Number(parsed[1]);
      reason = parsed[2] || '';
    } else if (lower === 'location') {
      location = true;
    }
    headers.push([header, value]);
  }
  if (location && !headers.some(([header]) => header.toLowerCase() === 'status')) status = 302;
  return { status, reason, headers, body: buffer.subarray(end + skip) };
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
  else if (run.size > MAX_OUTPUT_BYTES) failure = `wrote more than ${MAX_OUTPUT_BYTES} bytes and was stopped`;
  else if (run.signal) failure = `was ended by signal ${run.signal}`;
  else if (run.code !== 0) failure = `exited with status ${run.code}`;
  if (failure) return { fault: fault(`${name} ${failure}`) };
  return parseCgiOutput(name, run.output);
}

module.exports = { spawnCollected, runPlugin, pluginEnvironment, fault, runCgi };
