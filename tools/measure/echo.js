// The echo answer as a tiny Node.js CGI script would give it, for comparison with the plugin.
'use strict';
const msg = new URLSearchParams(process.env.QUERY_STRING || '').get('msg') ?? '';
const answer = { ok: true, action: 'echo', msg, len: Buffer.byteLength(msg) };
process.stdout.write(
  'Content-Type: application/json; charset=utf-8\r\n' +
    'Cache-Control: no-store\r\n' +
    'X-Content-Type-Options: nosniff\r\n' +
    '\r\n' +
    JSON.stringify(answer) +
    '\n',
);
