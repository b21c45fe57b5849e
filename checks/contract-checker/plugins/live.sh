#!/bin/sh
# Answers that change from run to run (a request id, its process id and the time), each written
# whole; no Cache-Control, which only a should-rule asks for.
id="X-Request-Id: $$-$(date +%N)"
case "$QUERY_STRING" in
*action=*|*format=json*) printf 'Content-Type: application/json\r\n%s\r\n\r\n{"ok":true,"pid":%s,"at":"%s"}\n' "$id" "$$" "$(date +%s%N)" ;;
*) printf 'Content-Type: text/html\r\n%s\r\n\r\n<!DOCTYPE html>\n<p>process %s at %s</p>\n' "$id" "$$" "$(date +%s%N)" ;;
esac
