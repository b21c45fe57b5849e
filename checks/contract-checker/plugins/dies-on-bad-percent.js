#!/usr/bin/env node
// Broken: decodes the query with decodeURIComponent, which throws on a "%" not followed by two hex
// digits and on bytes that are not UTF-8: a stack trace, exit 1, no answer.
'use strict';
const query = process.env.QUERY_STRING || '';
const params = query.split('&').map((pair) => pair.split('=').map((part) => decodeURIComponent(part.replace(/\+/g, ' '))));
const json = query.includes('action=') || query.includes('format=json');
const action = (params.find(([key]) => key === 'action') || [])[1] || 'info';
process.stdout.write(json
  ? `Content-Type: application/json\r\n\r\n${JSON.stringify({ ok: action === 'info', action })}\n`
  : 'Content-Type: text/html\r\n\r\n<p>page</p>\n');
