#!/usr/bin/env python3
# Broken: writes its answer once and exits 0, whatever part of it the pipe took.
import os
try:
    os.write(1, b'Content-Type: text/html\r\n\r\n<!DOCTYPE html>\n' + b'<p>page</p>\n' * 1000)
except OSError:
    pass
