#!/usr/bin/env bash
# A caller without a console that hands Kivo its standard handles without naming them: a
# Unix shell under Wine, as scripts/run is. Through Kivo the probe must get what it gets
# when the shell starts it directly: its input, output and error (three files, or output
# and error one file, 2>&1), everything written through them, and its status.
#   check_unix_caller.sh KIVO PROBE RUNNER [WORD ...]
# RUNNER and its words start a Windows program under one Wine (scripts/wine-run x86, ...);
# where it cannot, it says so on one line starting "SKIPPED:" and ends with 77, and so does
# this check.
set -uo pipefail
kivo=$1
probe=$2
shift 2
# Beside the programs, which the second Wine's sandbox sees too.
work=$(mktemp -d "$(dirname "$kivo")/unix-caller.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
for line in $(seq 1 500); do
    echo "line $line of the input"
done >"$work/input"
failures=0
fail() {
    echo "$1"
    failures=$((failures + 1))
}

# launch NAME PROGRAM [ARGUMENT ...]: input from the file, output and error to two files,
# or to one where NAME ends in "both"; the probe's report and the status beside them.
launch() {
    local name=$1 status
    shift
    export KIVO_PROBE_OUT="Z:${work//\//\\}\\$name.report"
    if [[ $name == *both ]]; then
        timeout 60 "$@" <"$work/input" >"$work/$name.out" 2>&1
    else
        timeout 60 "$@" <"$work/input" >"$work/$name.out" 2>"$work/$name.err"
    fi
    status=$?
    [ "$status" != 124 ] || fail "$name: '$*' did not end within 60 s: it hung"
    if [ "$status" = 77 ] && grep -q '^SKIPPED:' "$work/$name.out"; then
        grep '^SKIPPED:' "$work/$name.out"
        exit 77
    fi
    echo "$status" >"$work/$name.status"
}

# The probe's report line for KEY, or "(missing)".
value() {
    local line
    line=$(grep "^$2=" "$work/$1.report" 2>/dev/null) || line="$2=(missing)"
    line=${line%$'\r'}
    echo "${line#*=}"
}

# Kivo hands its first operand to Windows as the module's path.
module="Z:${probe//\//\\}"
for form in apart both; do
    launch "direct-$form" "$@" "$probe" "/echo /exit:9"
    launch "kivo-$form" "$@" "$kivo" "$module" "probe /echo /exit:9"
    [ "$(cat "$work/direct-$form.status")" = 9 ] || fail "$form: started directly, the probe did not end with 9"
    cmp -s -n "$(wc -c <"$work/input")" "$work/input" "$work/direct-$form.out" ||
        fail "$form: started directly, the probe did not echo its input: nothing below can be trusted"
    for part in status out err; do
        [ "$part" = err ] && [ "$form" = both ] && continue
        cmp -s "$work/direct-$form.$part" "$work/kivo-$form.$part" ||
            fail "$form: the child's $part through Kivo differs from a direct start's"
    done
    for key in stdin stdout stderr; do
        direct=$(value "direct-$form" "$key")
        through=$(value "kivo-$form" "$key")
        [ "$direct" = "$through" ] || fail "$form: the child's $key is '$through' through Kivo, '$direct' started directly"
    done
done

[ "$failures" = 0 ] && echo "through Kivo, the probe got from a Unix shell what it gets started by it directly"
exit "$failures"
