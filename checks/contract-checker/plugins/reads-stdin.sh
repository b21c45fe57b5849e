#!/bin/sh
# Broken: reads standard input, as a CGI program for POST requests would.
body=$(cat)
printf 'Content-Type: text/html\r\n\r\n<p>page%s</p>\n' "${body:+ }"
