#!/bin/sh
# Keeps the C and C++ sources in the house style of .clang-format.
#
#   scripts/format.sh           reformats every source file in place
#   scripts/format.sh --check   lists the files that differ and exits 1 if any do
#   scripts/format.sh [--check] FILE...   the same, for the named files only
set -eu
cd "$(dirname "$0")/.."

CHECK=0
if [ "${1:-}" = "--check" ]; then
    CHECK=1
    shift
fi

FORMAT=""
for candidate in clang-format-14 clang-format; do
    if command -v "$candidate" >/dev/null 2>&1; then
        FORMAT="$candidate"
        break
    fi
done
if [ -z "$FORMAT" ]; then
    echo "format: clang-format not found; run scripts/setup.sh" >&2
    exit 2
fi

sources() {
    if [ "$#" -gt 0 ]; then
        printf '%s\n' "$@"
    elif git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files --cached --others --exclude-standard -- src tools testing tests corvolib
    else
        find src tools testing tests corvolib -type f
    fi | grep -E '\.(c|cpp|h)$' || true
}

differing=0
for file in $(sources "$@"); do
    [ -f "$file" ] || continue
    if [ "$CHECK" -eq 1 ]; then
        if ! "$FORMAT" --style=file "$file" | cmp -s - "$file"; then
            echo "$file"
            differing=1
        fi
    else
        "$FORMAT" --style=file -i "$file"
    fi
done

if [ "$differing" -ne 0 ]; then
    echo "format: the files above differ from .clang-format; run scripts/format.sh" >&2
    exit 1
fi
