#!/bin/sh
# Broken: tries again and again to write an answer that nobody can receive.
until printf 'Content-Type: text/html\r\n\r\n<p>page</p>\n' 2>/dev/null; do sleep 0.1; done
