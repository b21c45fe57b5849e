#!/bin/sh
# Broken: exits 1 after a whole answer, which the host takes for a failed run.
printf 'Content-Type: text/html\r\n\r\n<p>page</p>\n'
exit 1
