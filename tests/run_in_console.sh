#!/usr/bin/env bash
# Runs a Windows test program under Wine with a pseudo-terminal for its console: Wine
# delivers console control events (Ctrl+C) only to processes that have a real console.
# The program's own output goes to a log, shown afterwards without the terminal's noise.
log=$(mktemp)
script -qec "$(printf '%q ' "$@") >'$log' 2>&1" /dev/null </dev/null >/dev/null
status=$?
cat "$log"
rm -f "$log"
exit "$status"
