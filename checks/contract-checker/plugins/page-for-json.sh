#!/bin/sh
# Broken: answers every request with the page, the JSON ones too.
printf 'Content-Type: text/html; charset=utf-8\r\n\r\n<!DOCTYPE html>\n<p>page</p>\n'
