#!/usr/bin/env python3
# Broken: ignores the Authorization header (gate.py).
import os, sys
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gate
gate.serve('no-bearer')
