#!/usr/bin/env bash
# Counts the instructions of one complete run of PROGRAM on dumps of the
# smallest lengths with callgrind, and fails when they exceed BUDGET.
set -euo pipefail
program=$(realpath "$1")
budget=$2

here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
"$here/make-dumps.sh"

valgrind --tool=callgrind --callgrind-out-file=/dev/null --log-file=callgrind.log \
    "$program" >/dev/null
count=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' callgrind.log)
if [[ -z $count ]]; then
    cat callgrind.log >&2
    exit 1
fi
echo "$count instructions for a complete run (budget $budget)"
((count <= budget))
