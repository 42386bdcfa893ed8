#!/usr/bin/env bash
# Runs a command under valgrind's memcheck and passes on its standard output
# and exit status. Whenever valgrind reports anything beyond the descriptors
# inherited from whoever started the command, its log goes to standard
# error; on a memory error, or on a descriptor that the command opened and
# left open at exit, the exit status is 99.
set -uo pipefail

log=$(mktemp)
trap 'rm -f "$log"' EXIT
valgrind -q --track-fds=yes --error-exitcode=99 --log-file="$log" "$@"
status=$?

# Counts the descriptors left open by the command itself, and every other
# line of the report but the summary of the inherited ones.
read -r left_open other < <(awk '
    { sub(/^==[0-9]+== ?/, "") }
    /^$/ || /^FILE DESCRIPTORS: / { next }
    /^Open file descriptor [0-9]+:/ {
        getline next_line
        sub(/^==[0-9]+== ?/, "", next_line)
        if (next_line !~ /inherited from parent/) { open++; other++ }
        next
    }
    { other++ }
    END { print open + 0, other + 0 }' "$log")
if ((other > 0)); then
    cat "$log" >&2
fi
if ((status == 99 || left_open > 0)); then
    exit 99
fi
exit "$status"
