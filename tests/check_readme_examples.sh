#!/usr/bin/env bash
# Every Kivo example of the README is one that the tests run under Wine, or says that it is
# not: each code span that starts with "Kivo " or "(Start-Process Kivo", and each line of a
# code block that starts with the prompt "C:\> Kivo ", is either a line of
# tests/readme_examples.txt (which the Readme test runs through cmd, with the status it
# must end with) or stands in a paragraph, a table cell or under a column heading that
# says "Windows only".
# And every line of that list is still an example of the README, which has at most 300
# lines.
#   check_readme_examples.sh ROOT
set -uo pipefail
root=$1
readme=$root/README.md
list=$root/tests/readme_examples.txt

# One line per example: 1 or 0 (marked Windows only or not), a tab, the example.
examples=$(awk '
    function spans(text, marked,    found) {
        while (match(text, /`[^`]+`/)) {
            found = substr(text, RSTART + 1, RLENGTH - 2)
            text = substr(text, RSTART + RLENGTH)
            if ((found ~ /^Kivo / || found ~ /^\(Start-Process Kivo /) && found !~ /<Program>/) {
                print marked "\t" found
            }
        }
    }
    function flush() {
        spans(block, block ~ /Windows only/)
        block = ""
    }
    /^```/ { flush(); fenced = !fenced; next }
    fenced { if (sub(/^C:\\> /, "") && /^Kivo /) print 0 "\t" $0; next }
    /^\|/ {
        flush()
        count = split($0, cells, / \| /)
        if (!table) {
            table = 1
            for (i = 1; i <= count; i++) header[i] = cells[i]
        } else if ($0 !~ /^\|[-:| ]+\|$/) {
            for (i = 1; i <= count; i++) spans(cells[i], (header[i] cells[i]) ~ /Windows only/)
        }
        next
    }
    { table = 0 }
    /^$/ || /^- / || /^#/ { flush() }
    { block = block " " $0 }
    END { flush() }
' "$readme")

failures=0
# The user's first page stays short: recipes and details go to docs/.
lines=$(wc -l <"$readme")
if [ "$lines" -gt 300 ]; then
    echo "the README has $lines lines, more than 300: move details to a page of docs/"
    failures=$((failures + 1))
fi
if [ -z "$examples" ]; then
    echo "no Kivo example found in $readme"
    exit 1
fi
listed=$(grep -v '^#' "$list" | cut -f 2)
while IFS=$'\t' read -r marked example; do
    if [ "$marked" = 0 ] && ! grep -Fxq -- "$example" <<<"$listed"; then
        echo "the README's example is neither run by the tests (tests/readme_examples.txt) nor marked Windows only: $example"
        failures=$((failures + 1))
    fi
done <<<"$examples"
while IFS= read -r example; do
    if [ -n "$example" ] && ! cut -f 2- <<<"$examples" | grep -Fxq -- "$example"; then
        echo "tests/readme_examples.txt runs an example that the README no longer has: $example"
        failures=$((failures + 1))
    fi
done <<<"$listed"
total=$(wc -l <<<"$examples")
run=$(grep -c $'^0\t' <<<"$examples")
[ "$failures" = 0 ] && echo "$total examples in the README: $run run by the tests under Wine, the rest marked Windows only"
exit "$failures"
