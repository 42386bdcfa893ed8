#!/usr/bin/env bash
# Writes three made-up dumps of the smallest lengths the program accepts
# into the current directory.
set -euo pipefail
head -c 31744 /dev/urandom >FBASIC.BIN
head -c 32768 /dev/urandom >SUBMON.BIN
head -c 1536 /dev/urandom >BOOTROM.BIN
