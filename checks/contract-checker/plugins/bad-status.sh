#!/bin/sh
# Broken: a Status line without its number, and with a reason in non-ASCII text.
printf 'Status: \303\226K\r\nContent-Type: text/html\r\n\r\n<p>page</p>\n'
