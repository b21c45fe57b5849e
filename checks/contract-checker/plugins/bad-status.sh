#!/bin/sh
# Broken: a Status line without its number.
printf 'Status: OK\r\nContent-Type: text/html\r\n\r\n<p>page</p>\n'
