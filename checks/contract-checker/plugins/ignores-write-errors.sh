#!/bin/sh
# Broken: exit 0 whether or not its answer could be written.
printf 'Content-Type: text/html\r\n\r\n<p>page</p>\n'
exit 0
