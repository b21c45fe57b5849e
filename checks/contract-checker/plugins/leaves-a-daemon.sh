#!/bin/sh
# Broken: answers at once and exits 0, but leaves a daemon that holds standard output open, so
# the host's read of the answer does not end.
setsid sleep 12 &
printf 'Content-Type: text/html\r\n\r\n<p>page</p>\n'
