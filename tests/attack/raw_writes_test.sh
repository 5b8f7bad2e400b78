#!/usr/bin/env bash
# Fails when C, C++ or Python code outside the one writer per language creates,
# opens for writing, makes or renames a file by itself: such a writer has no
# line in the attack table (tests/e2e/attack_table_test.cpp). The files allowed
# to, each with its reason, are in raw_writes_allowed.txt beside this script.
# Shell entry points are not read here; their table lines cover them. A
# method named open (a folder handle's) is the writer's, not a raw write.
# Usage: tests/attack/raw_writes_test.sh SOURCE_DIR
# Exits 77 (skipped) without git, as in the Debian 11 root: it reads the
# source, which the normal build's run has read already.
set -euo pipefail
cd "$1"
command -v git >/dev/null || { echo "skipped: git is not installed"; exit 77; }
allowed=$(dirname "$(realpath "${BASH_SOURCE[0]}")")/raw_writes_allowed.txt
readonly RAW='O_CREAT|O_WRONLY|O_RDWR|O_APPEND|O_TRUNC|\bfopen\(|\bofstream\b|std::fstream\b|\bcreat\(|\bmkdirat?\(|\brenameat?\(|\bos\.(replace|rename|mkdir|makedirs|link|symlink)\(|\bshutil\.(copy|copyfile|copy2|move|copytree)\(|\.write_(text|bytes)\(|(^|[^.[:alnum:]_])open\([^)]*['\''"][rwa]?[wax+]'
readonly EXCUSED='/dev/null'

found=$(git ls-files --cached --others --exclude-standard -- '*.c' '*.cpp' '*.h' '*.py' \
    ':(exclude)tests/' ':(exclude,glob)**/tests/**' ':(exclude)bench/' |
    xargs grep -nE "$RAW" | grep -v "$EXCUSED" || true)
status=0
while IFS= read -r hit; do
    [[ -n $hit ]] || continue
    file=${hit%%:*}
    if ! awk -v file="$file" '$1 == file { found = 1 } END { exit !found }' "$allowed"; then
        echo "raw write outside the writer (give it a line in the attack table and use the writer): $hit"
        status=1
    fi
done <<< "$found"
# An allowance without a raw write left is stale.
while read -r file _; do
    [[ -z $file || $file == \#* ]] && continue
    grep -q "^$file:" <<< "$found" || { echo "stale allowance in raw_writes_allowed.txt: $file"; status=1; }
done < "$allowed"
exit $status
