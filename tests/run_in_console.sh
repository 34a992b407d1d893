#!/usr/bin/env bash
# Runs a Windows test program under Wine with a pseudo-terminal for its console: Wine
# gives a program a console only on a terminal, and delivers console control events
# (Ctrl+C) only to processes that have a real console. The program's own output goes to a
# log, shown afterwards without the terminal's noise.
#
# A launcher that a test ends inside Wine's own process creation can leave its child's
# Wine loader waiting forever: a unix process that never became a Windows process, out of
# reach of every Windows call. The tests tag such children /kivo-kill-storm; those left
# in this run's session are reaped once the program has ended (the bracket keeps the
# pattern from matching the command that holds it).
log=$(mktemp)
script -qec "$(printf '%q ' "$@") >'$log' 2>&1; status=\$?; pkill -s 0 -f -- /kivo-kill-stor[m]; exit \$status" \
    /dev/null </dev/null >/dev/null
status=$?
cat "$log"
rm -f "$log"
exit "$status"
