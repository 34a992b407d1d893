#!/usr/bin/env bash
# The install step's decisions, with stand-ins for apt-get, dpkg and dpkg-query on PATH,
# never the real mirror: a mirror whose update fails, a wine32:i386 that cannot be
# installed, and a required package that cannot be installed.
#   check_install.sh ROOT
set -uo pipefail
root=$(cd "$1" && pwd) || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
failures=0
fail() {
    echo "FAILED: $1"
    failures=$((failures + 1))
}

# One stand-in under three names. dpkg-query reports the packages in FAKE_MISSING as not
# installed; apt-get fails what FAKE_FAIL names ("update", or a package), as a lagging
# mirror makes apt fail, after the kind of progress lines that must not reach the terminal.
cat >"$work/bin/stand-in" <<'STANDIN'
#!/usr/bin/env bash
echo "$(basename "$0") $*" >>"$FAKE_CALLS"
case $(basename "$0") in
    dpkg-query)
        case " $FAKE_MISSING " in *" ${*: -1} "*) exit 1 ;; esac
        printf 'install ok installed' ;;
    apt-get)
        if [ "${*: -1}" = update ]; then
            echo "Get:1 http://mirror.example/debian bookworm InRelease [151 kB]"
            if [ "$FAKE_FAIL" = update ]; then
                echo "Err:6 http://mirror.example/debian-security bookworm-security/main i386 Packages"
                echo "E: Failed to fetch http://mirror.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
                echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
                exit 100
            fi
            exit 0
        fi
        case " $* " in
            *" $FAKE_FAIL "*)
                echo "The following packages have unmet dependencies:"
                echo "E: Unable to correct problems, you have held broken packages."
                exit 100 ;;
        esac
        echo "Unpacking $* ..."
        echo "Setting up $* ..." ;;
esac
STANDIN
chmod +x "$work/bin/stand-in"
for name in apt-get dpkg dpkg-query; do
    ln -s stand-in "$work/bin/$name"
done

# Runs the install step in a fresh cache: run_install SCENARIO FAIL MISSING...
run_install() {
    local scenario=$1
    export FAKE_FAIL=$2
    shift 2
    export FAKE_MISSING="$*" FAKE_CALLS=$work/$scenario.calls XDG_CACHE_HOME=$work/$scenario.cache
    : >"$FAKE_CALLS"
    (cd "$root" && PATH=$work/bin:$PATH KIVO_APT_PAUSE=0 scripts/install) >"$work/out" 2>"$work/err"
    status=$?
    echo "--- $scenario: status $status"
    cat "$work/out" "$work/err"
    # A failure shows the log; a success keeps it.
    if [ "$status" = 0 ] && grep -E '^(Get|Err|Unpacking|Setting up)' "$work/out" "$work/err" >/dev/null; then
        fail "$scenario: apt's progress lines reached the terminal"
    fi
    if ! grep -E "^(Get:1 http://mirror.example|Unpacking)" "$XDG_CACHE_HOME/kivo/install.log" >/dev/null; then
        fail "$scenario: apt's words are missing from the log"
    fi
}
# How many times apt-get was asked to do this.
calls() { grep -c "^apt-get .*$1" "$FAKE_CALLS"; }

run_install mirror-lags update googletest
[ "$status" = 0 ] || fail "a failed update must not stop the step"
[ "$(calls update)" = 3 ] || fail "the update should be tried 3 times, not $(calls update)"
expected="warning: going on with the package lists that did arrive; not fetched: http://mirror.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz (File has unexpected size (374820 != 376004). Mirror sync in progress?)"
grep -Fx "$expected" "$work/err" >/dev/null || fail "the failed index should be named on one line: $expected"
grep "^apt-get .* install .* googletest" "$FAKE_CALLS" >/dev/null || fail "googletest was not installed"

run_install no-wine32 wine32:i386 wine32:i386
[ "$status" = 0 ] || fail "an optional package that cannot be installed must not stop the step"
grep "^apt-get .* install .* wine32:i386" "$FAKE_CALLS" >/dev/null || fail "wine32:i386 was not tried"
expected="warning: wine32:i386 could not be installed (apt: Unable to correct problems, you have held broken packages.); the x86 runtime tests under this machine's Wine will be skipped"
grep -Fx "$expected" "$work/err" >/dev/null || fail "wine32:i386 should be named on one line with apt's reason: $expected"
[ "$(grep -c . "$work/err")" = 2 ] || fail "wine32:i386 should take one line, after the line that says what is installed"
# Where no 32-bit Wine is installed, the x86 runtime tests skip with apt's reason.
if [ ! -x /usr/lib/wine/wine ] && [ -z "${KIVO_NO_32BIT:-}" ]; then
    skipped=$("$root/scripts/wine-run" x86 nothing.exe)
    [ "$skipped" = "SKIPPED: no 32-bit Wine on this machine: wine32:i386 could not be installed (apt: Unable to correct problems, you have held broken packages.)" ] ||
        fail "the x86 runtime tests should skip with apt's reason, not: $skipped"
fi
# Within the hour, no new try (others that this machine lacks may be).
: >"$FAKE_CALLS"
(cd "$root" && PATH=$work/bin:$PATH scripts/install) >/dev/null 2>&1 || fail "the second run failed"
[ "$(calls 'install.*wine32:i386')" = 0 ] || fail "wine32:i386 was tried again at once"

run_install required-missing googletest googletest wine32:i386
[ "$status" != 0 ] || fail "a required package that cannot be installed must fail the step"
grep -Fx "cannot install what the build needs: googletest (apt: Unable to correct problems, you have held broken packages.)" \
    "$work/err" >/dev/null || fail "the required package should be named with apt's reason"
grep -Fx "scripts/install: installing googletest failed (status 1)" "$work/err" >/dev/null ||
    fail "the failed step should be named"
grep -F "The following packages have unmet dependencies:" "$work/err" >/dev/null || fail "the failure should show apt's log"
if grep "^apt-get .* install .*wine32:i386" "$FAKE_CALLS" | grep -v -- ' -s ' >/dev/null; then
    fail "nothing optional should be installed once the build cannot be"
fi

[ "$failures" = 0 ] && echo "the install step survives the mirror and names what it cannot install"
exit "$failures"
