# The Debian 11 root that builds the portable binaries: made once with
# debootstrap, cached, and entered in a private mount namespace so nothing it
# mounts outlives the command. Sourced after common.sh, never run.
# HBAFW_PORTABLE_ROOT moves the root out of the tree (to keep it across clones).

readonly PORTABLE_DIR=$HBAFW_ROOT/build-portable
readonly PORTABLE_ROOT=${HBAFW_PORTABLE_ROOT:-$PORTABLE_DIR/root}
readonly PORTABLE_SUITE=bullseye
# What the root holds besides minbase. Changing the list remakes the root's packages.
readonly PORTABLE_PACKAGES=(g++ cmake ninja-build pkg-config libxml2-dev libgtest-dev libgmock-dev
    zip unzip mount file dpkg-dev rpm libhbalinux2 libxml2-utils
    g++-aarch64-linux-gnu libxml2-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64
    logrotate openssh-server python3-apt)
# Exit status of a stage that cannot run because the archive does not serve the suite.
readonly PORTABLE_UNREACHABLE=77
readonly PORTABLE_UNREACHABLE_TEXT="the archive does not serve Debian 11 ($PORTABLE_SUITE) to debootstrap or apt here"

# The portable trees and which of their tests run in the root. The fleet and
# package tests need host tools (Ansible, man, lintian) and run on the host; the
# sandbox runs x86_64 binaries, so arm64 under qemu runs no end-to-end test.
readonly PORTABLE_ARCHES=(amd64 arm64)
declare -rA PORTABLE_CTEST_EXCLUDE=([amd64]='fleet|package' [arm64]='fleet|package|e2e')

# in_root COMMAND...: COMMAND inside the root, with this tree at its own path so
# build folders mean the same inside and out. The root is bind-mounted onto
# itself first: sim/sandbox's own unshare needs a mount point to start from.
# With PORTABLE_OVERLAY=DIR the root is seen through an overlay whose changes
# land in DIR/upper (kept across calls, the cached root untouched) and /run
# is a private tmpfs: tests install packages and run servers there.
in_root() {
    # Host's static qemu, so arm64 test binaries run (binfmt_misc or the CMake emulator).
    if [[ -x /usr/bin/qemu-aarch64-static && ! /usr/bin/qemu-aarch64-static -ot $PORTABLE_ROOT/usr/local/bin/qemu-aarch64-static ]]; then
        cp /usr/bin/qemu-aarch64-static "$PORTABLE_ROOT/usr/local/bin/"
    fi
    unshare --mount --propagation private bash -euc '
        root=$1 tree=$2 overlay=$3
        shift 3
        if [[ -n $overlay ]]; then
            mkdir -p "$overlay/upper" "$overlay/work" "$overlay/merged"
            mount -t overlay portable-overlay \
                -o "lowerdir=$root,upperdir=$overlay/upper,workdir=$overlay/work" "$overlay/merged"
            root=$overlay/merged
            mount -t tmpfs portable-run "$root/run"
        else
            mount --bind "$root" "$root"
        fi
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mount --rbind /sys "$root/sys"
        mount -t tmpfs portable-tmp "$root/tmp"
        mkdir -p "$root$tree"
        mount --bind "$tree" "$root$tree"
        exec chroot "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/usr/sbin:/bin:/sbin \
            HOME=/root LANG=C.UTF-8 CI="${CI:-}" DEBIAN_FRONTEND=noninteractive "$@"
    ' in_root "$PORTABLE_ROOT" "$HBAFW_ROOT" "${PORTABLE_OVERLAY:-}" "$@"
}

# mounted_under DIR: succeeds when anything is mounted at or below DIR.
mounted_under() {
    findmnt -rn -o TARGET | awk -v top="$1" '$0 == top || index($0, top "/") == 1 { found = 1 } END { exit !found }'
}

# archive_unreachable LOG: the failure in LOG is the archive's, not ours.
archive_unreachable() {
    grep -qE 'Failed getting release file|Failed to fetch|Could not resolve|Temporary failure resolving|Unable to fetch|Release file .* is expired|does not have a Release file|Couldn.t download' "$1"
}

# root_step WHAT LOG COMMAND...: COMMAND with its output appended to LOG; a
# failure says whether the archive or something else is to blame.
root_step() {
    local what=$1 log=$2
    shift 2
    echo "portable: $what (log: $log)"
    "$@" >>"$log" 2>&1 && return 0
    tail -5 "$log" >&2
    if archive_unreachable "$log"; then
        echo "portable: cannot make the root: $PORTABLE_UNREACHABLE_TEXT" >&2
        return "$PORTABLE_UNREACHABLE"
    fi
    echo "portable: cannot make the root: $what failed (log: $log)" >&2
    return 1
}

# make_root: the root, made when missing or when its package list changed.
# Returns PORTABLE_UNREACHABLE when the archive cannot be reached, 1 on any
# other failure; both say why on stderr.
make_root() {
    local partial=$PORTABLE_ROOT.partial log=$PORTABLE_ROOT.log wanted
    wanted=$(printf '%s\n' "${PORTABLE_PACKAGES[@]}")
    if [[ -f $PORTABLE_ROOT/.hbafw-packages && $(cat "$PORTABLE_ROOT/.hbafw-packages") == "$wanted" ]]; then
        echo "portable: reusing the Debian 11 root $PORTABLE_ROOT"
        return 0
    fi
    command -v debootstrap >/dev/null || { echo "portable: debootstrap is not installed (scripts/bootstrap installs it)" >&2; return 1; }
    mkdir -p "$(dirname "$PORTABLE_ROOT")"
    : >"$log"
    if [[ ! -d $PORTABLE_ROOT ]]; then
        # A partial root from an interrupted run may still have debootstrap's /proc mounted.
        if [[ -d $partial ]]; then
            mounted_under "$partial" && { echo "portable: something is still mounted under $partial; unmount it first" >&2; return 1; }
            rm -rf --one-file-system "$partial"
        fi
        root_step "making the Debian 11 root with debootstrap" "$log" \
            debootstrap --variant=minbase "$PORTABLE_SUITE" "$partial" || return
        mv "$partial" "$PORTABLE_ROOT"
    fi
    rm -f "$PORTABLE_ROOT/.hbafw-packages"
    mkdir -p "$PORTABLE_ROOT/usr/local/bin"
    # The root never starts a service its packages bring (sshd above all).
    printf '#!/bin/sh\nexit 101\n' >"$PORTABLE_ROOT/usr/sbin/policy-rc.d"
    chmod 0755 "$PORTABLE_ROOT/usr/sbin/policy-rc.d"
    root_step "installing the build packages in the root" "$log" in_root bash -ec '
        dpkg --add-architecture arm64
        apt-get update -q
        apt-get install -y -q --no-install-recommends "$@"
        apt-get clean' packages "${PORTABLE_PACKAGES[@]}" || return
    echo "$wanted" >"$PORTABLE_ROOT/.hbafw-packages"
}

# root_ctest ARCH: the root's tests of build-portable/ARCH, from inside the tree
# (Debian 11's ctest has no --test-dir).
root_ctest() {
    in_root bash -c 'cd "$1" && ctest --output-on-failure -j 2 -LE "$2"' \
        root_ctest "$PORTABLE_DIR/$1" "${PORTABLE_CTEST_EXCLUDE[$1]}"
}
