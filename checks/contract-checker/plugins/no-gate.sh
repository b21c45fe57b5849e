#!/bin/sh
# Broken: never looks at BOT_PASSWORD, so a locked node answers anyone.
case "$QUERY_STRING" in
*action=*|*format=json*) printf 'Content-Type: application/json\r\n\r\n{"ok":true}\n' ;;
*) printf 'Content-Type: text/html\r\n\r\n<p>page</p>\n' ;;
esac
