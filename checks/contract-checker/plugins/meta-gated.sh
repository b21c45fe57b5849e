#!/bin/sh
# Broken: meets the node password before it looks at --meta, so a locked node cannot list it.
if [ -n "$BOT_PASSWORD" ]; then
  printf 'Status: 401 Unauthorized\r\nContent-Type: application/json\r\n\r\n{"ok":false,"error":"password"}\n'
elif [ "$1" = --meta ]; then
  echo '{"name":"gated","desc":"asks for the password first"}'
else
  printf 'Content-Type: text/html\r\n\r\n<p>page</p>\n'
fi
