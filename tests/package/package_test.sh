#!/usr/bin/env bash
# Packs this build tree into the Debian packages and the RPMs with CPack (the
# component's and the collection's of each format), unpacks the .debs with
# dpkg-deb into temporary roots (never installing any) and checks the packages'
# metadata, scripts and file lists against one install layout, that purging
# removes the component's state (in a private mount namespace), and that the
# unpacked binaries run. The binaries run inside sim/sandbox, since every component start creates
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
# Path, mode of the component's package; the collection's is checked by its
# main parts. The lintian override is in the .deb only.
readonly LINTIAN_OVERRIDE='./usr/share/lintian/overrides/hbafw 644'
readonly LAYOUT='./etc/logrotate.d/hbafw 644
./usr/bin/hbafw-bundle 755
./usr/bin/hbafw-pattern 755
./usr/lib/systemd/system/hbafw-inventory.service 644
./usr/lib/systemd/system/hbafw-inventory.timer 644
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
./usr/share/hbafw/symbol_floor.sh 644
'"$LINTIAN_OVERRIDE"'
./usr/share/man/man1/hbafw-bundle.1.gz 644
./usr/share/man/man1/hbafw-pattern.1.gz 644
./usr/share/man/man8/hbafw-brocade.8.gz 644
./usr/share/man/man8/hbafw-emulex.8.gz 644
./usr/share/man/man8/hbafw-inventory.8.gz 644
./usr/share/man/man8/hbafw-qlogic.8.gz 644'
readonly COLLECTION=./usr/share/ansible/collections/ansible_collections
readonly COLLECTION_PACKAGE=ansible-collection-hbafw-fleet
# The only folders the component's RPM may own: its own, never a shared one.
readonly RPM_OWNED_DIRS='^(/usr/share/doc/hbafw|/usr/share/hbafw|/var/vkx)$'
# The collection's RPM owns the folders Ansible reads collections from too, so
# erasing it leaves none behind.
readonly COLLECTION_RPM_DIRS='/usr/share/ansible
/usr/share/ansible/collections
/usr/share/ansible/collections/ansible_collections
/usr/share/ansible/collections/ansible_collections/hbafw
/usr/share/ansible/collections/ansible_collections/hbafw/fleet'
# postrm's argument | whether the component's state survives it
readonly PURGE_ROWS='remove|kept
upgrade|kept
purge|removed'

command -v dpkg-deb >/dev/null || { echo "dpkg-deb is not installed (package dpkg-dev): skipped"; exit 77; }
command -v rpmbuild >/dev/null || { echo "rpmbuild is not installed (package rpm): skipped"; exit 77; }
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

for generator in DEB RPM; do
    if ! "$CPACK" -G $generator --config "$BUILD_DIR/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
        cat "$work/cpack.log"
        echo "FAIL: cpack -G $generator"
        exit 1
    fi
done
deb=$(echo "$work"/out/hbafw_*.deb)
rpm=$(echo "$work"/out/hbafw-[0-9]*.rpm)
collection_deb=$(echo "$work"/out/${COLLECTION_PACKAGE}_*_all.deb)
collection_rpm=$(echo "$work"/out/$COLLECTION_PACKAGE-*.noarch.rpm)
[[ -f $deb && -f $rpm && -f $collection_deb && -f $collection_rpm && $(ls "$work/out" | grep -cE '[.](deb|rpm)$') -eq 4 ]] ||
    { ls "$work/out"; echo "FAIL: expected the component's and the collection's .deb and .rpm"; exit 1; }

expect_field Package '^hbafw$'
expect_field Section '^admin$'
expect_field Architecture '^[a-z0-9]+$'
# Computed from the binaries by dpkg-shlibdeps, beside the one named by hand.
expect_field Depends 'libxml2 \(>= [^)]+\)'
expect_field Depends 'libc6 \(>= [^)]+\)'
expect_field Depends '(^|, )unzip(,|$)'
expect_field Depends '(^|, )logrotate(,|$)'
expect_field Depends '(^|, )binutils(,|$)'
expect_field Homepage '^https://'
expect_field Description 'hbafw-qlogic'
[[ $(dpkg-deb -I "$deb" conffiles) == /etc/logrotate.d/hbafw ]] || fail "conffiles does not list /etc/logrotate.d/hbafw"

root=$work/root
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x"; exit 1; }
# expect_layout PACKAGE EXPECTED LISTED: the packaged "path mode" list, collection aside.
expect_layout() {
    local listed
    listed=$(grep -v "^$COLLECTION/" <<<"$3" | sort)
    [[ $listed == "$2" ]] && return
    fail "$1 file list differs from the install layout (< expected, > packaged):"
    diff <(echo "$2") <(echo "$listed")
}
expect_layout .deb "$LAYOUT" "$(cd "$root" && find . \( -type f -o -type l \) -printf '%p %m\n')"
[[ -d $root/var/vkx ]] || fail ".deb does not own /var/vkx"
[[ -e $root/$COLLECTION ]] && fail "the component's .deb holds the Ansible collection"

# The collection's .deb: architecture-independent, for a controller with a recent
# enough ansible-core, the collection and its documentation only.
collection_root=$work/collection
dpkg-deb -x "$collection_deb" "$collection_root" || { echo "FAIL: dpkg-deb -x (collection)"; exit 1; }
[[ $(dpkg-deb -f "$collection_deb" Architecture) == all ]] || fail "the collection's .deb is not Architecture: all"
[[ $(dpkg-deb -f "$collection_deb" Depends) == *"ansible-core (>= 2.14)"* ]] || fail "the collection's .deb does not depend on ansible-core >= 2.14"
for part in galaxy.yml meta/runtime.yml plugins/modules/hbafw.py playbooks/rollout.yml roles/rollout/tasks/main.yml; do
    [[ -f $collection_root/$COLLECTION/hbafw/fleet/$part ]] || fail "the Ansible collection hbafw.fleet lacks $part"
done
[[ -e $collection_root/usr/sbin || -e $collection_root/var ]] && fail "the collection's .deb holds the component"
# Modules carry a #! line: packaged as executables naming python3, or lintian and
# rpmlint call them broken scripts.
for module in "$collection_root/$COLLECTION"/hbafw/fleet/plugins/modules/*.py; do
    [[ -x $module ]] || fail "module $(basename "$module") is not executable"
    [[ $(head -1 "$module") == '#!/usr/bin/python3' ]] || fail "module $(basename "$module") starts '$(head -1 "$module")'"
done

# postrm on its own, in a private mount namespace over a scratch /var: a purge
# removes the log folder and the rollouts' state, anything else keeps them.
postrm=$work/postrm
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postrm >"$postrm" || fail "the component's .deb has no postrm"
if [[ $(id -u) -eq 0 ]]; then
    while IFS='|' read -r action expected; do
        state=$(unshare --mount --propagation private sh -c '
            mount -t tmpfs purge-test /var || exit 1
            # The units'"'"' links and a running systemd are the host'"'"'s: neither is reached.
            mount -t tmpfs purge-test /etc/systemd && mount -t tmpfs purge-test /run || exit 1
            mkdir -p /var/vkx /var/lib/hbafw/runs && touch /var/vkx/Component.log /var/lib/hbafw/runs/record
            sh "$1" "$2" >/dev/null || exit 1
            if [ -e /var/vkx ] || [ -e /var/lib/hbafw ]; then echo kept; else echo removed; fi' purge "$postrm" "$action")
        [[ $state == "$expected" ]] || fail "postrm $action: the state is '$state', expected $expected"
    done <<<"$PURGE_ROWS"
fi

# The package's life in the Debian 11 root of scripts/portable, on an overlay
# dropped at the end: install, the timer disabled, enabled by the operator, the
# unit's command run (by the sandbox from outside: the binaries are this
# host's), removal, purge, and nothing of the package left. Its systemd is
# systemctl --root on the overlay; no systemd runs there, none is touched here.
lifecycle_root=$(source "$SOURCE_DIR/scripts/lib/common.sh" && source "$SOURCE_DIR/scripts/lib/portable_root.sh" &&
    echo "$PORTABLE_ROOT")
if [[ $(id -u) -ne 0 || ! -x $lifecycle_root/usr/bin/dpkg ]] || ! command -v systemctl promtool >/dev/null; then
    echo "no Debian 11 root (scripts/portable makes it), not root, or no systemctl or promtool: the lifecycle is not tried"
else
    lifecycle=$(unshare --mount --propagation private bash -uc '
        lower=$1 deb=$2 w=$3 sandbox=$4
        m=$w/merged metrics=/var/lib/prometheus/node-exporter/hbafw.prom
        mkdir -p "$w/upper" "$w/work" "$m" "$w/machine"
        mount -t overlay hbafw-lifecycle -o "lowerdir=$lower,upperdir=$w/upper,workdir=$w/work" "$m" || exit 1
        mount -t proc proc "$m/proc" && mount -t tmpfs lifecycle "$m/tmp" && cp "$deb" "$m/tmp/hbafw.deb" || exit 1
        in_root() { chroot "$m" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@" >/dev/null 2>&1; }
        timer() { systemctl --root="$m" is-enabled hbafw-inventory.timer 2>&1; }
        in_root dpkg --force-depends -i /tmp/hbafw.deb || echo "install failed"
        echo "installed: $(timer)"
        systemctl --root="$m" enable hbafw-inventory.timer >/dev/null 2>&1
        echo "enabled: $(timer)"
        # node_exporter'"'"'s package makes the textfile folder.
        mkdir -p "$m${metrics%/*}"
        # The unit'"'"'s command line with its paths in the root: systemd reads
        # $$ as $ and quotes as sh does, so eval splits it as systemd would.
        command=$(sed -n "s/^ExecStart=//p" "$m/usr/lib/systemd/system/hbafw-inventory.service")
        command=${command//\$\$/\$}
        command=${command//$metrics/$m$metrics}
        eval "set -- ${command//\/usr\/sbin\//$m\/usr\/sbin\/}"
        "$sandbox" "$w/machine" "$@" >/dev/null 2>&1
        echo "ran: $? $(promtool check metrics <"$m$metrics" 2>&1 && echo checked)"
        in_root dpkg -r hbafw || echo "remove failed"
        echo "removed: $([[ -e $m$metrics ]] && echo "metrics kept")"
        in_root dpkg -P hbafw || echo "purge failed"
        echo "left:" $(cd "$w/upper" && find . ! -type d ! -path "./var/lib/dpkg/*" ! -path "./var/log/*" ! -path "./var/cache/*" | sort)
    ' lifecycle "$lifecycle_root" "$deb" "$work/lifecycle" "$SANDBOX" 2>&1)
    expected='installed: disabled
enabled: enabled
ran: 3 checked
removed: 
left:'
    [[ $lifecycle == "$expected" ]] || fail "the package's lifecycle in the Debian 11 root:"$'\n'"$(diff <(echo "$expected") <(echo "$lifecycle"))"
fi

# The RPM: its header, file list, folders, dependencies, scripts and config files.
rpm_query() { rpm -qp "$@" "$rpm" 2>/dev/null; }
while IFS='|' read -r tag pattern; do
    value=$(rpm_query --queryformat "%{$tag}")
    [[ $value =~ $pattern ]] || fail "RPM tag $tag is '$value', expected /$pattern/"
done <<'ROWS'
NAME|^hbafw$
ARCH|^(x86_64|aarch64)$
SUMMARY|Fibre Channel
DESCRIPTION|hbafw-qlogic
LICENSE|^LicenseRef-Proprietary$
URL|^https://
PACKAGER|^hbafw maintainers <
VENDOR|^hbafw maintainers$
ROWS
rpm_files=$(rpm_query --queryformat '[.%{FILENAMES} %{FILEMODES:octal}\n]')
expect_layout .rpm "$(grep -vxF "$LINTIAN_OVERRIDE" <<<"$LAYOUT")" "$(grep -E ' 1[0-9]{5}$' <<<"$rpm_files" | sed -E 's/ 1[0-9]{2}([0-7]{3})$/ \1/')"
while read -r dir; do
    [[ $dir =~ $RPM_OWNED_DIRS ]] || fail "RPM owns the shared folder $dir"
done < <(grep -E ' 40[0-9]{3}$' <<<"$rpm_files" | sed -E 's/^\.(.*) [0-9]+$/\1/')
grep -qx './var/vkx 40755' <<<"$rpm_files" || fail "RPM does not own /var/vkx"
requires=$(rpm_query --requires)
for needed in unzip logrotate binutils 'libxml2.so.2()(64bit)' 'libstdc++.so.6()(64bit)'; do
    grep -qxF "$needed" <<<"$requires" || fail "RPM does not require $needed"
done
grep -q python <<<"$requires" && fail "RPM requires a python the controller's Ansible brings: $requires"
# Its scriptlets manage the units as Fedora's systemd macros do, and enable nothing.
rpm_scripts=$(rpm_query --scripts)
while IFS='|' read -r scriptlet pattern; do
    sed -n "/^$scriptlet scriptlet/,/scriptlet/p" <<<"$rpm_scripts" | grep -qE -- "$pattern" ||
        fail "RPM $scriptlet scriptlet lacks /$pattern/: $rpm_scripts"
done <<'ROWS'
postinstall|systemctl daemon-reload
preuninstall|if \[ \$1 -eq 0 \]; then
preuninstall|systemctl --no-reload disable hbafw-inventory.timer
preuninstall|systemctl stop hbafw-inventory.timer hbafw-inventory.service
postuninstall|systemctl daemon-reload
postuninstall|rm -f /var/lib/prometheus/node-exporter/hbafw.prom
ROWS
grep -qE 'preset|enable ' <<<"$rpm_scripts" && fail "RPM scriptlets enable a unit: $rpm_scripts"
[[ $(rpm_query --queryformat '[%{FILENAMES} %{FILEFLAGS:fflags}\n]' | grep ' c') == "/etc/logrotate.d/hbafw cn" ]] ||
    fail "RPM does not keep /etc/logrotate.d/hbafw as %config(noreplace)"
rotation=$(sed 's/#.*//' "$root/etc/logrotate.d/hbafw")
for directive in /var/vkx/Component.log weekly 'rotate 4' compress missingok notifempty; do
    grep -qw -- "$directive" <<<"$rotation" || fail "logrotate file lacks '$directive'"
done
grep -qE 'copytruncate|postrotate' <<<"$rotation" && fail "logrotate file truncates or signals"
# The collection's RPM: noarch, needs ansible-core, no scripts, and owns every
# folder it adds.
[[ $(rpm -qp --queryformat '%{ARCH}' "$collection_rpm") == noarch ]] || fail "the collection's RPM is not noarch"
rpm -qp --requires "$collection_rpm" | grep -qx 'ansible-core >= 2.14' || fail "the collection's RPM does not require ansible-core >= 2.14"
[[ -z $(rpm -qp --scripts "$collection_rpm") ]] || fail "the collection's RPM has install scripts"
collection_dirs=$(rpm -qp --queryformat '[%{FILENAMES} %{FILEMODES:octal}\n]' "$collection_rpm" | sed -nE 's/ 40[0-7]{3}$//p')
for dir in $COLLECTION_RPM_DIRS; do
    grep -qxF "$dir" <<<"$collection_dirs" || fail "the collection's RPM does not own $dir: erasing it would leave it behind"
done
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

# Each binary's help and version, run from the unpacked root: the vendor builds'
# usage (and a GNU-style word they do not know refused) before anything runs.
source "$SOURCE_DIR/scripts/lib/symbol_floor.sh"
readonly BUILT="1.0.0 (commit *, symbol floor GLIBC_$MAX_GLIBC GLIBCXX_$MAX_GLIBCXX CXXABI_$MAX_CXXABI)"
machine=$work/machine
mkdir -p "$machine"
# glob_matches TEXT GLOB
# shellcheck disable=SC2053 # the expected text is a glob
glob_matches() { [[ $1 == $2 ]]; }
# binary | argument | exit status | output: a glob, or USAGE (the vendor builds' usage)
while IFS='|' read -r binary argument expected text; do
    output=$("$SANDBOX" "$machine" "$root/$binary" "$argument" 2>&1)
    status=$?
    [[ $status -eq 77 ]] && { echo "$output"; echo "the sandbox cannot run here: binaries not run, skipped"; exit 77; }
    case $text in
        USAGE) text=$USAGE ;;
        *) glob_matches "$output" "$text" && text=$output ;;
    esac
    [[ $status -eq $expected && $output == "$text" ]] ||
        fail "${binary##*/} $argument exited $status (expected $expected) and printed:"$'\n'"$output"
done <<ROWS
usr/sbin/hbafw-qlogic|/h|3|USAGE
usr/sbin/hbafw-emulex|/h|3|USAGE
usr/sbin/hbafw-brocade|/h|3|USAGE
usr/sbin/hbafw-emulex|--version|3|hbafw-emulex $BUILT
usr/sbin/hbafw-brocade|-V|3|hbafw-brocade $BUILT
usr/sbin/hbafw-inventory|-h|0|Usage: hbafw-inventory *--capture DIR*
usr/sbin/hbafw-inventory|--version|0|hbafw-inventory $BUILT
usr/bin/hbafw-pattern|--help|0|usage: hbafw-pattern *
usr/bin/hbafw-pattern|-V|0|hbafw-pattern $BUILT
ROWS

# The packaged bundle maker, run where the package puts it (the unpacked /usr
# laid over the sandbox's), over a vendor folder: its help, the installed
# symbol floor read whatever its verdict, and a bundle of the installed builds.
installed=$work/installed kit=$work/kit bundles=$work/bundles
mkdir -p "$installed" "$kit" "$bundles"
cp -a "$root/usr" "$installed/"
echo '<catalogue/>' >"$kit/reference.xml"
printf '#!/bin/sh\n' >"$kit/qlafwupdate" && chmod 755 "$kit/qlafwupdate"
# option | exit status (extended regex) | text the output must hold
while IFS='|' read -r option status text; do
    output=$("$SANDBOX" "$installed" /usr/bin/hbafw-bundle ${option:+"$option"} --output "$bundles" "$kit" 2>&1)
    [[ $? =~ ^($status)$ && $output == *"$text"* ]] || fail "hbafw-bundle $option printed:"$'\n'"$output"
done <<'ROWS'
--help|0|Usage: hbafw-bundle [--binaries DIR]
--version|0|hbafw-bundle 1.0.0 (commit
|[01]|binary             GLIBC    GLIBCXX
--any-symbols|0|/hbafw-bundle-1.0.0.tar.gz
ROWS
archive=$bundles/hbafw-bundle-1.0.0.tar.gz
sums=$(tar -xzOf "$archive" hbafw-bundle-1.0.0/SHA256SUMS 2>&1)
for file in "$root"/usr/sbin/hbafw-{qlogic,emulex,brocade} "$kit/reference.xml" "$kit/qlafwupdate"; do
    grep -qxF "$(sha256sum <"$file" | cut -d' ' -f1)  ${file##*/}" <<<"$sums" ||
        fail "the bundle's SHA256SUMS lacks the installed ${file##*/}: $sums"
done
exit "$failed"
