#!/usr/bin/env bash
# Renders every manual page of the package as man-db does for a reader, with
# groff's warnings on, and fails on any warning or missing section. It checks
# layout only; whether the pages tell the truth is the package test's business.
set -uo pipefail
readonly MAN_DIR=$1
readonly PAGES=(hbafw-qlogic.8 hbafw-emulex.8 hbafw-brocade.8 hbafw-inventory.8 hbafw-pattern.1 hbafw-bundle.1)
readonly SECTIONS=(NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES "SEE ALSO")

command -v man >/dev/null || { echo "man is not installed (package man-db): skipped"; exit 77; }
failed=0
for page in "${PAGES[@]}"; do
    path=$MAN_DIR/$page
    if [[ ! -f $path ]]; then
        echo "$page: not generated in $MAN_DIR"
        failed=1
        continue
    fi
    # C locale: plain ASCII output, so the checks below see what was written.
    if ! rendered=$(LC_ALL=C MANWIDTH=80 man --warnings -l "$path" 2>"$path.warnings"); then
        echo "$page: man failed"
        failed=1
    fi
    if [[ -s $path.warnings ]]; then
        echo "$page: warnings:"
        cat "$path.warnings"
        failed=1
    fi
    for section in "${SECTIONS[@]}"; do
        grep -qx "$section" <<<"$rendered" || { echo "$page: no $section section"; failed=1; }
    done
    rm -f "$path.warnings"
done
exit "$failed"
