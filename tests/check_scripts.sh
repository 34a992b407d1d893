#!/usr/bin/env bash
# ShellCheck over every shell script of the project, following what each one sources;
# it must report nothing.
#   check_scripts.sh ROOT
set -euo pipefail
cd "$1"
if ! command -v shellcheck >/dev/null; then
    echo "SKIPPED: shellcheck is not installed"
    exit 77
fi
scripts=(scripts/* .ci/run tests/*.sh)
# Run from the root, where the scripts' own `source scripts/...` lines point.
shellcheck --external-sources "${scripts[@]}"
echo "shellcheck found nothing in ${#scripts[@]} scripts: ${scripts[*]}"
