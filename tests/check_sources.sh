#!/usr/bin/env bash
# Second opinions on the launcher's own sources, for one architecture:
#   check_sources.sh clang|tidy|cppcheck x86|x64 ROOT
# clang compiles them for the same target as the product, warnings as errors; clang-tidy
# and cppcheck must report nothing.
set -u
tool=$1
arch=$2
root=$3
sources=("$root"/src/*.cpp "$root"/src/platform/*.cpp)
program=$(case $tool in clang) echo clang++ ;; tidy) echo clang-tidy ;; *) echo "$tool" ;; esac)
if ! command -v "$program" >/dev/null; then
    echo "SKIPPED: $program is not installed"
    exit 77
fi
case $arch in
    x64) triple=x86_64-w64-mingw32 platform=win64 ;;
    *) triple=i686-w64-mingw32 platform=win32A ;;
esac

# clang finds the mingw-w64 C headers by itself, but not the cross libstdc++ headers: the
# newest of the posix variant's.
cxx=$(printf '%s\n' "/usr/lib/gcc/$triple/"*-posix | sort -V | tail -n 1)/include/c++
if [ ! -d "$cxx" ]; then
    echo "no C++ headers of $triple's posix compiler at $cxx"
    exit 1
fi
flags=("--target=$triple" -std=c++17 -isystem "$cxx" -isystem "$cxx/$triple" -I"$root/src" -DWIN32_LEAN_AND_MEAN)
case $tool in
    clang)
        clang++ "${flags[@]}" -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Werror \
            -fsyntax-only "${sources[@]}" ;;
    tidy)
        clang-tidy --quiet "${sources[@]}" -- "${flags[@]}" ;;
    cppcheck)
        cppcheck --enable=warning,style,performance,portability --std=c++17 --platform=$platform \
            --error-exitcode=1 --inline-suppr --suppress=missingIncludeSystem -q -I"$root/src" "$root/src" ;;
esac
