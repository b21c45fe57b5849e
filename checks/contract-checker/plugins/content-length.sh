#!/bin/sh
# Broken: a Content-Length that counts characters, not bytes: a real server cuts the body.
printf 'Content-Type: text/html; charset=utf-8\r\nContent-Length: 12\r\n\r\n<p>caf\303\251</p>\n'
