#!/usr/bin/env bash
# Packs this build tree into the Debian package with CPack, unpacks it with
# dpkg-deb into a temporary root (never installing it) and checks the control
# data, the file list against the install layout, and that the unpacked binaries
# run. The binaries run inside sim/sandbox, since every component start creates
# /var/vkx; lintian is scripts/test's business, not this test's.
set -uo pipefail
readonly CPACK=$1 BUILD_DIR=$2 SOURCE_DIR=$3
readonly SANDBOX=$SOURCE_DIR/sim/sandbox
readonly USAGE='TRXXXXXX.zelpak [options]
    options
    --------------------------
    /f = Force the installation
    /s = Execute silently
    /d [path] = Perform self-discovery and output to [path]'
# Path, mode; the Ansible collection is checked apart, by its main parts.
readonly LAYOUT='./etc/logrotate.d/hbafw 644
./usr/bin/hbafw-pattern 755
./usr/sbin/hbafw-brocade 755
./usr/sbin/hbafw-emulex 755
./usr/sbin/hbafw-inventory 755
./usr/sbin/hbafw-qlogic 755
./usr/share/doc/hbafw/README.brocade.md 644
./usr/share/doc/hbafw/README.emulex.md 644
./usr/share/doc/hbafw/README.md 644
./usr/share/doc/hbafw/README.qlogic.md 644
./usr/share/doc/hbafw/changelog.Debian.gz 644
./usr/share/doc/hbafw/copyright 644
./usr/share/man/man1/hbafw-pattern.1.gz 644
./usr/share/man/man8/hbafw-brocade.8.gz 644
./usr/share/man/man8/hbafw-emulex.8.gz 644
./usr/share/man/man8/hbafw-inventory.8.gz 644
./usr/share/man/man8/hbafw-qlogic.8.gz 644'

command -v dpkg-deb >/dev/null || { echo "dpkg-deb is not installed (package dpkg-dev): skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

# expect_field NAME PATTERN: a control field of the package matches an extended regex.
expect_field() {
    local value
    value=$(dpkg-deb -f "$deb" "$1")
    [[ $value =~ $2 ]] || fail "control field $1 is '$value', expected /$2/"
}

if ! "$CPACK" -G DEB --config "$BUILD_DIR/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
debs=("$work"/out/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || { ls "$work/out"; echo "FAIL: expected one .deb"; exit 1; }
deb=${debs[0]}

expect_field Package '^hbafw$'
expect_field Section '^admin$'
expect_field Architecture '^[a-z0-9]+$'
# Computed from the binaries by dpkg-shlibdeps, beside the one named by hand.
expect_field Depends 'libxml2 \(>= [^)]+\)'
expect_field Depends 'libc6 \(>= [^)]+\)'
expect_field Depends '(^|, )unzip(,|$)'
expect_field Description 'hbafw-qlogic'
[[ $(dpkg-deb -I "$deb" conffiles) == /etc/logrotate.d/hbafw ]] || fail "conffiles does not list /etc/logrotate.d/hbafw"

root=$work/root
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x"; exit 1; }
collection=./usr/share/ansible/collections/ansible_collections
listed=$(cd "$root" && find . \( -type f -o -type l \) -not -path "$collection/*" -printf '%p %m\n' | sort)
if [[ $listed != "$LAYOUT" ]]; then
    fail "file list differs from the install layout (< expected, > packaged):"
    diff <(echo "$LAYOUT") <(echo "$listed")
fi
for part in galaxy.yml meta/runtime.yml plugins/modules/hbafw.py playbooks/rollout.yml roles/rollout/tasks/main.yml; do
    [[ -f $root/$collection/hbafw/fleet/$part ]] || fail "the Ansible collection hbafw.fleet lacks $part"
done
rotation=$(sed 's/#.*//' "$root/etc/logrotate.d/hbafw")
for directive in /var/vkx/Component.log weekly 'rotate 4' compress missingok notifempty; do
    grep -qw -- "$directive" <<<"$rotation" || fail "logrotate file lacks '$directive'"
done
grep -qE 'copytruncate|postrotate' <<<"$rotation" && fail "logrotate file truncates or signals"
# logrotate's dry run (-d) parses the file as the daily job will; its own state file keeps it off the host's.
output=$(logrotate -d -s "$work/logrotate.state" "$root/etc/logrotate.d/hbafw" 2>&1)
[[ $? -eq 0 && $output == *"weekly (4 rotations)"* && $output != *error:* ]] || fail "logrotate rejects the file: $output"

# The packaged page must show the usage text the packaged binary prints.
page_text=$(LC_ALL=C MANWIDTH=80 man -l "$root/usr/share/man/man8/hbafw-qlogic.8.gz" 2>&1)
while IFS= read -r line; do
    grep -qF -- "${line#"${line%%[! ]*}"}" <<<"$page_text" || fail "hbafw-qlogic(8) lacks the usage line '$line'"
done <<<"$USAGE"

output=$("$root/usr/bin/hbafw-pattern" 'a(b+)c' groups xabbc 2>&1)
[[ $? -eq 1 && $output == "match: no" ]] || fail "hbafw-pattern whole-input match gave '$output'"
output=$("$root/usr/bin/hbafw-pattern" --flags 4 'Flash Image.*: (.+).*' groups 'Flash Image   : 2.02' 2>&1)
[[ $? -eq 0 && $output == *"group 1 [16,20]: '2.02'"* ]] || fail "hbafw-pattern groups gave '$output'"

[[ $failed -eq 0 ]] || exit 1

# Each vendor build's usage and the inventory's help, run from the unpacked root.
machine=$work/machine
mkdir -p "$machine"
for build in qlogic emulex brocade; do
    output=$("$SANDBOX" "$machine" "$root/usr/sbin/hbafw-$build" /h 2>&1)
    status=$?
    [[ $status -eq 77 ]] && { echo "$output"; echo "the sandbox cannot run here: binaries not run, skipped"; exit 77; }
    [[ $status -eq 3 ]] || fail "hbafw-$build /h exited $status, expected 3"
    [[ $output == "$USAGE" ]] || fail "hbafw-$build /h printed:"$'\n'"$output"
done
output=$("$SANDBOX" "$machine" "$root/usr/sbin/hbafw-inventory" -h 2>&1)
status=$?
[[ $status -eq 2 ]] || fail "hbafw-inventory -h exited $status, expected 2"
[[ $output == "Usage: hbafw-inventory [--xml]"* ]] || fail "hbafw-inventory -h printed: $output"
exit "$failed"
