#!/usr/bin/env bash
# The bundle refuses vendor builds above the servers' symbol floor unless told
# to ship them anyway, and vendor files it cannot take (a link, a name given
# twice, a folder others may write, a file swapped for a link while the maker
# runs): rows of (vendor builds, extra option, vendor files, expected outcome).
# This tree's own builds stand for a build on a new distribution; a library
# linked against nothing stands for a build within the floor.
set -uo pipefail
readonly BUILD_DIR=$1 SOURCE_DIR=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

mkdir -p "$work/floor" "$work/kit" "$work/folder" "$work/linked" "$work/reserved" "$work/bare" "$work/open" "$work/swapped"
echo '<catalogue/>' >"$work/kit/reference.xml"
cp "$work/kit/reference.xml" "$work/folder/" && cp "$work/kit/reference.xml" "$work/reserved/"
printf '#!/bin/sh\n' >"$work/folder/qlafwupdate" && chmod 755 "$work/folder/qlafwupdate"
ln -s "$work/kit/reference.xml" "$work/linked/reference.xml"
: >"$work/reserved/hbafw-qlogic"
: >"$work/bare/qlafwupdate"
cp "$work/folder/"* "$work/open/" && chmod 777 "$work/open"
cp "$work/folder/"* "$work/swapped/"
(umask 077 && echo secret >"$work/secret")
# A slow tool makes the window between the maker's checks and its copy certain:
# the objdump it runs swaps a checked file for a link to a private one.
cat >"$work/swapping-objdump" <<SCRIPT
#!/bin/sh
mv "$work/swapped/qlafwupdate" "$work/aside" && ln -s "$work/secret" "$work/swapped/qlafwupdate"
exec objdump "\$@"
SCRIPT
chmod 755 "$work/swapping-objdump"
for vendor in qlogic emulex brocade; do
    echo "int hbafw_$vendor(void) { return 1; }" | cc -x c -shared -nostdlib -o "$work/floor/hbafw-$vendor" - ||
        { echo "FAIL: cannot compile the stand-in within the floor"; exit 1; }
done
# grep reads all of objdump's output: with -q its early exit would fail the
# pipeline (pipefail) and skip the test on every machine.
objdump -T "$BUILD_DIR/bin/hbafw-qlogic" | grep -E 'GLIBC_2\.(1[89]|[2-9][0-9])' >/dev/null ||
    { echo "this machine's glibc is within the floor: its builds cannot stand for newer ones; skipped"; exit 77; }

# binaries | option | vendor files (in $work) | made or refused | text the output must hold
rows="$work/floor||kit/reference.xml|made|hbafw-bundle-1.0.0.tar.gz
$BUILD_DIR/bin||kit/reference.xml|refused|(at most GLIBC_2.17 allowed)
$BUILD_DIR/bin|-DHBAFW_BUNDLE_ANY_SYMBOLS=ON|kit/reference.xml|made|hbafw-bundle-1.0.0.tar.gz
$work/floor||folder|made|hbafw-bundle-1.0.0.tar.gz
$work/floor||linked|refused|linked/reference.xml is not a file
$work/floor||reserved|refused|hbafw-qlogic is a name the bundle keeps
$work/floor||bare|refused|no catalogue
$work/floor||folder;$work/missing|refused|missing is not a file
$work/floor||folder;$work/kit/reference.xml|refused|reference.xml is given twice: $work/folder/reference.xml and $work/kit/reference.xml
$work/floor||open|refused|open may be written by group or others
$work/floor|-DHBAFW_BUNDLE_OBJDUMP=$work/swapping-objdump|swapped|refused|swapped/qlafwupdate is not a file"
while IFS='|' read -r binaries option files expected text; do
    out=$work/out
    rm -rf "$out" && mkdir -p "$out"
    output=$(cmake "-DHBAFW_BUNDLE_BINARIES=$binaries" -DHBAFW_BUNDLE_VERSION=1.0.0 "-DHBAFW_BUNDLE_OUTPUT=$out" \
        "-DHBAFW_BUNDLE_FILES=$work/$files" ${option:+"$option"} -P "$SOURCE_DIR/cmake/Bundle.cmake" 2>&1)
    outcome=refused
    [[ -f $out/hbafw-bundle-1.0.0.tar.gz ]] && outcome=made
    row="row ($binaries${option:+ $option} $files)"
    [[ $outcome == "$expected" ]] || { echo "$output"; echo "FAIL: $row: $outcome, expected $expected"; failed=1; }
    [[ $output == *"$text"* ]] || { echo "$output"; echo "FAIL: $row: the output lacks '$text'"; failed=1; }
    # Each vendor build under its own name: three different files.
    if [[ $outcome == made ]]; then
        builds=$(tar -xzOf "$out/hbafw-bundle-1.0.0.tar.gz" hbafw-bundle-1.0.0/SHA256SUMS | awk '$2 ~ /^hbafw-/ { print $1 }' | sort -u | wc -l)
        [[ $builds -eq 3 ]] || { echo "FAIL: $row: $builds different vendor builds in the bundle, expected 3"; failed=1; }
        # And every vendor file given, a folder's files each.
        vendor=$(tar -xzOf "$out/hbafw-bundle-1.0.0.tar.gz" hbafw-bundle-1.0.0/SHA256SUMS | awk '$2 !~ /^hbafw-/ { print $2 }')
        given=$(IFS=';'; for path in $work/$files; do if [[ -d $path ]]; then ls "$path"; else basename "$path"; fi; done | sort)
        [[ $vendor == "$given" ]] || { echo "FAIL: $row: the bundle holds vendor files '$vendor', expected '$given'"; failed=1; }
    fi
done <<<"$rows"
[[ $failed -eq 0 ]] && echo "bundle symbol floor: every row passed"
exit "$failed"
