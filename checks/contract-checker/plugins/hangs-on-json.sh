#!/bin/sh
# Broken: a JSON request never ends.
case "$QUERY_STRING" in
*action=*|*format=json*) sleep 600 ;;
esac
printf 'Content-Type: text/html\r\n\r\n<p>page</p>\n'
