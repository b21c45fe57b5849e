# The gate of the broken Python plugins below, each of which gets one thing wrong: FAULT names it.
import os, sys
from urllib.parse import parse_qs

def serve(fault):
    env, query = os.environ, os.environ.get('QUERY_STRING', '')
    password = env.get('BOT_PASSWORD', '')
    auth = env.get('HTTP_AUTHORIZATION', '').lstrip(' ')
    bearer = auth[7:].lstrip(' ') if auth.startswith('Bearer ') and fault != 'no-bearer' else None
    pwd = parse_qs(query).get('pwd', [None])[0]
    if fault == 'raw-pwd':
        pwd = next((part[4:] for part in query.split('&') if part.startswith('pwd=')), None)
    given = [g for g in (env.get('HTTP_X_BOT_PASSWORD'), bearer, pwd) if g is not None]
    match = (lambda g: g and password.startswith(g)) if fault == 'prefix' else (lambda g: g == password)
    json = 'action=' in query or 'format=json' in query
    if password and not any(match(g) for g in given):
        head, body = 'Status: 401 Unauthorized\r\nContent-Type: application/json', '{"ok":false,"error":"no"}'
    else:
        head, body = ('Content-Type: application/json', '{"ok":true}') if json else ('Content-Type: text/html', '<p>page</p>')
    sys.stdout.write(head + '\r\n\r\n' + body + '\n')
