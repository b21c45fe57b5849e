#!/bin/sh
# Broken: writes its JSON through a buffer of 128 bytes, so an answer echoing a long action is cut.
case "$QUERY_STRING" in
*action=*|*format=json*)
  action=$(printf '%s' "&$QUERY_STRING" | sed -n 's/.*&action=\([^&]*\).*/\1/p' | tr -cd 'A-Za-z0-9-')
  printf 'Content-Type: application/json\r\n\r\n'
  printf '{"ok":true,"action":"%s"}\n' "$action" | head -c 128 ;;
*) printf 'Content-Type: text/html\r\n\r\n<p>page</p>\n' ;;
esac
