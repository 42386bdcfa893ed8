#!/usr/bin/env bash
# Runs a command under valgrind's memcheck and passes on its standard output
# and exit status. On a memory error, or on a descriptor that the command
# opened and left open at exit, it prints valgrind's report to standard
# error and exits with 99.
set -uo pipefail

log=$(mktemp)
trap 'rm -f "$log"' EXIT
valgrind -q --track-fds=yes --error-exitcode=99 --log-file="$log" "$@"
status=$?

# Descriptors inherited from whoever started the command are not its own.
left_open=$(awk '/Open file descriptor [0-9]+:/ { getline next_line
                     if (next_line !~ /inherited from parent/) n++ }
                 END { print n + 0 }' "$log")
if ((status == 99 || left_open > 0)); then
    cat "$log" >&2
    exit 99
fi
exit "$status"
