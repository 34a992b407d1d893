#!/usr/bin/env bash
# The README's first command, run as a user would from the project's root: scripts/run
# without operands shows the demonstration, its usage line and the statuses of its
# children; with one operand it ends with the child's status.
#   check_quick_start.sh ROOT
set -uo pipefail
cd "$1" || exit 1
failures=0
fail() {
    echo "$1"
    failures=$((failures + 1))
}

demo=$(scripts/run 2>&1)
status=$?
echo "$demo"
[ "$status" = 0 ] || fail "scripts/run ended with $status"
# What each part of the demonstration must show, in order; Wine's console ends lines with
# CR LF.
expected=$(cat <<'LINES'
> Kivo
Kivo <Program> [Argument]
  -> status 255
> Kivo "cmd /c echo hello from the child & exit 3"
hello from the child
  -> status 3
> Kivo C:\windows\system32\cmd.exe "cmd /c exit 7"
  -> status 7
> Kivo no-such-program.exe
  -> status 2
LINES
)
# The demonstration begins after its own first line, "Kivo (x64 build, ...) under Wine";
# what comes before it is the install step's, should it have had something to do.
shown=$(printf '%s\n' "$demo" | tr -d '\r' | sed -e 's/ *$//' -e '/^$/d' | awk 'begun; /^Kivo \(/ { begun = 1 }')
[ "$shown" = "$expected" ] || fail "the demonstration should show, after its first line:
$expected"

scripts/run "cmd /c exit 5"
status=$?
[ "$status" = 5 ] || fail "scripts/run \"cmd /c exit 5\" ended with $status, not 5"

[ "$failures" = 0 ] && echo "both commands of the quick start work"
exit "$failures"
