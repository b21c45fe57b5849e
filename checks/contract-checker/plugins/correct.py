#!/usr/bin/env python3
# A correct plugin in Python: the host contract and nothing more.
import hmac, json, os, select, sys
from urllib.parse import parse_qs

def send(data):
    # The whole answer or exit 1: wait while a non-blocking pipe is full; a reader that has gone
    # (EPIPE) or no standard output (EBADF) leaves nobody to tell.
    while data:
        try:
            data = data[os.write(1, data):]
        except BlockingIOError:
            select.select([], [1], [])
        except (BrokenPipeError, OSError) as error:
            sys.exit(0 if isinstance(error, BrokenPipeError) or error.errno == 9 else 1)

def answer(content_type, body, status=None):
    head = f'Status: {status}\r\n' if status else ''
    head += f'Content-Type: {content_type}; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n'
    send(head.encode() + body)

def presented(password):
    env = os.environ
    auth = env.get('HTTP_AUTHORIZATION', '').lstrip(' ')
    bearer = auth[7:].lstrip(' ') if auth.startswith('Bearer ') else None
    pwd = parse_qs(env.get('QUERY_STRING', ''), keep_blank_values=True).get('pwd', [None])[0]
    wanted = password.encode('utf-8', 'surrogateescape')
    return any(hmac.compare_digest(given.encode('utf-8', 'surrogateescape'), wanted)
               for given in (env.get('HTTP_X_BOT_PASSWORD'), bearer, pwd) if given is not None)

query = os.environ.get('QUERY_STRING', '')
password = os.environ.get('BOT_PASSWORD', '')
if 'DV_PLUGIN_META' in os.environ or sys.argv[1:2] == ['--meta']:
    send(b'{"name":"pycorrect","desc":"A plugin in Python"}\n')
elif sys.argv[1:2] in (['--version'], ['-v']):
    send(b'0.1.0\n')
elif password and not presented(password):
    answer('application/json', b'{"ok":false,"error":"invalid node password"}\n', '401 Unauthorized')
elif 'action=' in query or 'format=json' in query:
    action = parse_qs(query).get('action', ['info'])[0]
    record = {'ok': True, 'plugin': 'pycorrect'} if action == 'info' else {'ok': False, 'error': 'unknown action'}
    answer('application/json', json.dumps(record, separators=(',', ':')).encode() + b'\n')
else:
    answer('text/html', b'<!DOCTYPE html>\n<title>pycorrect</title><p>A plugin in Python.</p>\n')
