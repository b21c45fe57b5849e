#!/usr/bin/env python3
# Broken: ends its header lines with a bare line feed, as print() does, not CRLF.
import os
query = os.environ.get('QUERY_STRING', '')
json = 'action=' in query or 'format=json' in query
print('Content-Type: ' + ('application/json' if json else 'text/html'))
print()
print('{"ok":true}' if json else '<p>page</p>')
