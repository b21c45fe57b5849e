#!/bin/sh
# Broken: puts the action into its JSON as it came, so a quote, a backslash or a control byte in it
# breaks the JSON.
case "$QUERY_STRING" in
*action=*|*format=json*)
  action=$(printf '%s' "&$QUERY_STRING" | sed -n 's/.*&action=\([^&]*\).*/\1/p' | sed 's/+/ /g; s/%22/"/g; s/%5[Cc]/\\/g; s/%0[0-9A-Fa-f]//g')
  printf 'Content-Type: application/json\r\n\r\n{"ok":true,"action":"%s"}\n' "$action" ;;
*) printf 'Content-Type: text/html\r\n\r\n<p>page</p>\n' ;;
esac
