#!/usr/bin/env bash
# Makes the release twice, from copies of the sources in two folders with different paths,
# and checks that both give the same bytes: each Kivo.exe, each archive and the checksum
# file; and that the checksum file holds both archives and `sha256sum -c` accepts it.
#   check_reproducible.sh SOURCE_ROOT VERSION
set -euo pipefail
root=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Without the help of SOURCE_DATE_EPOCH, which the linker would also take for its time
# stamp: the copies hold no git history, so both archives take the same fixed time.
unset SOURCE_DATE_EPOCH

release() {
    local dir=$1
    mkdir -p "$dir"
    # The sources as the work tree holds them, without anything built from them.
    if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
        git -C "$root" ls-files -z --cached --others --exclude-standard |
            tar -C "$root" --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -C "$dir" -xf -
    else
        tar -C "$root" --exclude=./build -cf - . | tar -C "$dir" -xf -
    fi
    if ! cmake -S "$dir" -B "$dir/build" -DCMAKE_TOOLCHAIN_FILE="$dir/cmake/mingw-w64-i686.cmake" \
            -DBUILD_TESTING=OFF >"$dir.log" 2>&1 ||
        ! cmake --build "$dir/build" --target release >>"$dir.log" 2>&1; then
        cat "$dir.log"
        echo "the release build in $dir failed"
        exit 1
    fi
}
first=$work/one
second=$work/a-second-folder/with-a-longer-path
release "$first"
release "$second"

files=(Kivo.exe x64/Kivo.exe
       "release/Kivo-$version-win32.zip" "release/Kivo-$version-win64.zip" "release/Kivo-$version-SHA256SUMS.txt")
status=0
for file in "${files[@]}"; do
    if ! cmp "$first/build/$file" "$second/build/$file"; then
        echo "differs between the two builds: $file"
        status=1
    fi
done
(cd "$first/build/release" && sha256sum -c "Kivo-$version-SHA256SUMS.txt") || status=1
if [ "$(wc -l <"$first/build/release/Kivo-$version-SHA256SUMS.txt")" != 2 ]; then
    echo "the checksum file should name both archives"
    status=1
fi
[ "$status" = 0 ] && echo "two builds in different folders gave the same bytes: ${files[*]}"
exit "$status"
