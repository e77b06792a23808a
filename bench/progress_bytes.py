#!/usr/bin/env python3
"""Counts the bytes tarnwell-cli writes to a terminal on standard error (the
progress line and any warnings) and the wall time, with standard error on a
pseudo-terminal and standard output discarded.

Usage: bench/progress_bytes.py build/release/tarnwell-cli check STREAM --bit-rate 0
"""
import os
import pty
import subprocess
import sys
import time

master, slave = pty.openpty()
start = time.time()
child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=slave)
os.close(slave)
count = 0
while True:
    try:
        data = os.read(master, 65536)
    except OSError:  # the child closed the terminal
        break
    if not data:
        break
    count += len(data)
child.wait()
print(f"stderr bytes on the terminal: {count}, {time.time() - start:.2f} s, exit {child.returncode}")
