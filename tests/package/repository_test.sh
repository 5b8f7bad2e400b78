#!/usr/bin/env bash
# The signed repositories scripts/package --repo makes, used as servers use
# them: made from build-portable/packages with keys generated here in a
# temporary GNUPGHOME, served by a web server on 127.0.0.1, and read from the
# Debian 11 root seen through an overlay (the cached root stays as it is).
# Stage apt: apt-get verifies and installs hbafw, refuses a tampered Packages
# and a Release signed by another key, and an upgrade to a newer build keeps
# the operator's logrotate edit. Stage dnf: dnf --installroot verifies the
# signed repomd.xml and refuses a tampered one; rpmkeys checks the RPMs'
# signatures. Stage install: the playbook hbafw.fleet.install over SSH to
# sshd in the root (a systemctl stand-in there): check mode changes nothing,
# the timer stays off without node_exporter's folder and is enabled with it,
# a second run changes nothing.
# Usage: repository_test.sh SOURCE apt|dnf|install. Exits 77 when root, the
# Debian 11 root, the packages or a tool is missing.
set -uo pipefail
readonly STAGE=$2
source "$1/scripts/lib/common.sh"
source "$HBAFW_ROOT/scripts/lib/portable_root.sh"
source "$HBAFW_ROOT/scripts/lib/repository.sh"
readonly PACKAGES=$PORTABLE_DIR/packages/packages.txt
readonly COLLECTIONS=$HBAFW_ROOT/deploy/ansible

skip() { echo "skipped: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "chroot and the overlay need root"
[[ -f $PORTABLE_ROOT/.hbafw-packages && $(cat "$PORTABLE_ROOT/.hbafw-packages") == "$(printf '%s\n' "${PORTABLE_PACKAGES[@]}")" ]] ||
    skip "the Debian 11 root is missing or out of date: run scripts/portable"
[[ -s $PACKAGES ]] || skip "no packages in $PACKAGES: run scripts/package"
needed=("${REPO_TOOLS[@]}" python3 dpkg-deb)
case $STAGE in
    dnf) needed+=(dnf rpmkeys) ;;
    install) needed+=(ansible-playbook ssh ssh-keygen nsenter) ;;
esac
for tool in "${needed[@]}"; do command -v "$tool" >/dev/null || skip "$tool is not installed"; done

failed=0
fail() { echo "FAIL: $*"; failed=1; }
# Below the tree, which in_root shows inside the root at the same path.
work=$(mktemp -d "$PORTABLE_DIR/repository-test.XXXXXX")
server= sshd_pid=
cleanup() {
    [[ -n $sshd_pid ]] && kill "$sshd_pid" 2>/dev/null
    [[ -n $server ]] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    gpgconf --kill all 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
export GNUPGHOME=$work/gnupg PORTABLE_OVERLAY=$work/overlay
mkdir -m 0700 "$GNUPGHOME"
readonly REPO=$work/repo

# key NAME: a new signing key's fingerprint.
key() {
    gpg --batch --passphrase '' --quick-gen-key "$1 <$1@hbafw.example.org>" rsa3072 sign never 2>/dev/null
    gpg --batch --quiet --with-colons --list-keys "$1@hbafw.example.org" | awk -F: '$1 == "fpr" { print $10; exit }'
}
release=$(key release) other=$(key other)
mapfile -t packages <"$PACKAGES"
make_repositories "$REPO" "$release" "${packages[@]}" >/dev/null || { echo "FAIL: make_repositories"; exit 1; }

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server --bind 127.0.0.1 --directory "$REPO" "$port" >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 50); do curl -fsS -o /dev/null "http://127.0.0.1:$port/hbafw.asc" 2>/dev/null && break; sleep 0.2; done
readonly URL=http://127.0.0.1:$port

# Inside the root apt reads only this repository, so nothing reaches the archive.
in_root bash -c ': >/etc/apt/sources.list'

# apt_root COMMAND: an apt-get command in the root after apt forgot every
# list (so nothing is taken as unchanged); its output in $work/apt.log.
apt_root() { in_root bash -c "rm -rf /var/lib/apt/lists/* && $*" >"$work/apt.log" 2>&1; }
# in_server COMMAND: COMMAND in the root; once sshd runs, in sshd's own view of
# it (a second overlay mount of the same folders would not see its changes).
in_server() {
    [[ -z $sshd_pid ]] && { in_root "$@"; return; }
    nsenter --target "$sshd_pid" --mount --root env -i PATH=/usr/local/bin:/usr/bin:/usr/sbin:/bin:/sbin "$@"
}
installed_version() { in_server dpkg-query -W -f '${Version}' hbafw 2>/dev/null; }

stage_apt() {
    local amd64 version newer
    amd64=$(grep -m1 '/amd64/hbafw_.*_amd64\.deb$' "$PACKAGES")
    version=$(dpkg-deb --field "$amd64" Version)
    for arch in amd64 arm64 all; do
        grep -q '^Package: ' "$REPO/apt/dists/stable/main/binary-$arch/Packages" || fail "no Packages for $arch"
    done
    gpgv --keyring "$REPO/hbafw.gpg" "$REPO/apt/dists/stable/Release.gpg" "$REPO/apt/dists/stable/Release" 2>/dev/null ||
        fail "the detached Release signature does not verify"
    in_root bash -ec 'install -D -m 0644 "$1" /etc/apt/keyrings/hbafw.asc
        printf "Types: deb\nURIs: %s/apt\nSuites: stable\nComponents: main\nSigned-By: /etc/apt/keyrings/hbafw.asc\n" "$2" \
            >/etc/apt/sources.list.d/hbafw.sources' sh "$REPO/hbafw.asc" "$URL"
    apt_root 'apt-get update && apt-get install -y hbafw' || fail "apt-get install hbafw: $(tail -3 "$work/apt.log")"
    [[ $(installed_version) == "$version" ]] || fail "hbafw $version not installed: $(installed_version)"
    in_root bash -c 'echo "# the operator keeps twelve weeks" >>/etc/logrotate.d/hbafw'

    # The same build with a newer version stands for the next release.
    newer=${version%-*}.1-${version##*-}
    dpkg-deb -R "$amd64" "$work/newer"
    sed -i "s/^Version: .*/Version: $newer/" "$work/newer/DEBIAN/control"
    dpkg-deb --root-owner-group -b "$work/newer" "$work/hbafw_${newer}_amd64.deb" >/dev/null
    make_repositories "$REPO" "$release" "$work/hbafw_${newer}_amd64.deb" >/dev/null || fail "republishing failed"
    apt_root 'apt-get update && apt-get install -y hbafw' || fail "upgrade: $(tail -3 "$work/apt.log")"
    [[ $(installed_version) == "$newer" ]] || fail "not upgraded to $newer: $(installed_version)"
    in_root grep -qx '# the operator keeps twelve weeks' /etc/logrotate.d/hbafw ||
        fail "the upgrade lost the operator's logrotate edit"

    local listing=$REPO/apt/dists/stable/main/binary-amd64
    cp "$listing/Packages" "$work/Packages.kept"
    sed -i 's/^Description: .*/&, tampered/' "$listing/Packages"
    gzip -9nf -k "$listing/Packages"
    apt_root 'apt-get update' && fail "a tampered Packages was accepted"
    grep -qE 'Hash Sum mismatch|unexpected size' "$work/apt.log" || fail "no hash refusal: $(tail -3 "$work/apt.log")"
    cp "$work/Packages.kept" "$listing/Packages" && gzip -9nf -k "$listing/Packages"

    local dists=$REPO/apt/dists/stable
    gpg --batch --yes --local-user "$other" --clearsign -o "$dists/InRelease" "$dists/Release" 2>/dev/null
    gpg --batch --yes --local-user "$other" --armor --detach-sign -o "$dists/Release.gpg" "$dists/Release" 2>/dev/null
    apt_root 'apt-get update' && fail "a Release signed by another key was accepted"
    grep -q "NO_PUBKEY ${other: -16}" "$work/apt.log" || fail "no signature refusal: $(tail -3 "$work/apt.log")"
}

stage_dnf() {
    local installroot=$work/dnfroot
    mkdir -p "$installroot" "$work/repos.d"
    # Debian's dnf passes over a repository it cannot read unless told not to.
    printf '[hbafw]\nname=hbafw\nbaseurl=%s/rpm\ngpgcheck=1\nrepo_gpgcheck=1\nskip_if_unavailable=0\ngpgkey=file://%s\n' \
        "$URL" "$REPO/hbafw.asc" >"$work/repos.d/hbafw.repo"
    dnf_root() {
        dnf -y -q --installroot="$installroot" --setopt=reposdir="$work/repos.d" --releasever=9 \
            --setopt=cachedir="$work/dnf-cache" --disablerepo='*' --enablerepo=hbafw "$@" >"$work/dnf.log" 2>&1
    }
    dnf_root makecache || { cat "$work/dnf.log"; skip "dnf cannot read a repository into an installroot here"; }
    dnf_root repoquery --qf '%{name}-%{version}.%{arch}' hbafw
    grep -q '^hbafw-.*\.x86_64$' "$work/dnf.log" || fail "dnf does not list hbafw: $(cat "$work/dnf.log")"
    local db=$work/rpmdb
    mkdir -p "$db"
    rpmkeys --dbpath "$db" --import "$REPO/hbafw.asc" || fail "rpmkeys cannot import the public key"
    for rpm in "$REPO"/rpm/*.rpm; do
        rpmkeys --dbpath "$db" --checksig "$rpm" | grep -q ': digests signatures OK$' ||
            fail "$(rpmkeys --dbpath "$db" --checksig "$rpm")"
    done

    echo '<!-- tampered -->' >>"$REPO/rpm/repodata/repomd.xml"
    rm -rf "$work/dnf-cache"
    dnf_root makecache && fail "dnf accepted a tampered repomd.xml"
    grep -q 'repomd.xml GPG signature verification error' "$work/dnf.log" || fail "no signature refusal: $(cat "$work/dnf.log")"
}

stage_install() {
    local ssh_port run=$work/ansible
    ssh_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    mkdir -p "$run"
    ssh-keygen -q -t ed25519 -N '' -f "$run/client_key"
    install -m 0644 "$run/client_key.pub" "$work/authorized_keys"
    in_root bash -ec 'install -m 0755 "$1" /usr/local/bin/systemctl
        printf "Port %s\nListenAddress 127.0.0.1\nPidFile /root/sshd.pid\nAuthorizedKeysFile %s\nPermitRootLogin prohibit-password\nPasswordAuthentication no\nUsePAM no\nStrictModes no\nUseDNS no\nSubsystem sftp internal-sftp\n" \
            "$2" "$3" >/etc/ssh/sshd_config.hbafw-test' sh "$HBAFW_ROOT/tests/package/systemctl" "$ssh_port" "$work/authorized_keys"
    in_root bash -ec 'mkdir -m 0755 /run/sshd && exec /usr/sbin/sshd -D -e -f /etc/ssh/sshd_config.hbafw-test' \
        >"$work/sshd.log" 2>&1 &
    for _ in $(seq 100); do
        [[ -s $work/overlay/upper/root/sshd.pid ]] && sshd_pid=$(cat "$work/overlay/upper/root/sshd.pid") && break
        sleep 0.1
    done
    [[ -n $sshd_pid ]] || { cat "$work/sshd.log"; echo "FAIL: sshd did not start"; return; }
    printf '[hbafw]\nbullseye ansible_host=127.0.0.1 ansible_port=%s ansible_user=root ansible_become_method=su\n' \
        "$ssh_port" >"$run/inventory.ini"
    printf '[defaults]\ninventory = %s/inventory.ini\ninterpreter_python = /usr/bin/python3\nnocolor = true\n[ssh_connection]\npipelining = true\nssh_args = -i %s/client_key -o IdentitiesOnly=yes -o StrictHostKeyChecking=accept-new -o UserKnownHostsFile=%s/known_hosts -o ControlMaster=auto -o ControlPersist=30s\ncontrol_path_dir = %s/cp\n' \
        "$run" "$run" "$run" "$run" >"$run/ansible.cfg"
    playbook() {
        env HOME="$run" ANSIBLE_CONFIG="$run/ansible.cfg" ANSIBLE_COLLECTIONS_PATH="$COLLECTIONS" \
            ANSIBLE_LOCAL_TEMP="$run/tmp" ansible-playbook hbafw.fleet.install \
            -e "hbafw_repo_url=$URL/ hbafw_repo_key=$REPO/hbafw.asc" "$@" >"$run/out" 2>&1
    }
    changed() { grep -oE 'bullseye +: ok=[0-9]+ +changed=[0-9]+' "$run/out" | sed 's/.*changed=//'; }
    timer() { in_server test -e "/var/lib/systemctl-standin/$1/hbafw-inventory.timer"; }

    playbook --check --diff -e hbafw_metrics=true || fail "check mode failed: $(tail -20 "$run/out")"
    grep -q '+Signed-By: /etc/apt/keyrings/hbafw.asc' "$run/out" || fail "check mode shows no diff of the source"
    [[ -z $(installed_version) ]] || fail "check mode installed hbafw"
    in_server test -e /etc/apt/sources.list.d/hbafw.sources && fail "check mode wrote the source"

    playbook -e hbafw_metrics=true || fail "install failed: $(tail -20 "$run/out")"
    [[ -n $(installed_version) ]] || fail "hbafw not installed"
    grep -q "textfile folder /var/lib/prometheus/node-exporter does not exist on bullseye" "$run/out" ||
        fail "no word of the missing textfile folder"
    timer enabled && fail "the timer was enabled without node_exporter's folder"

    in_server mkdir -p /var/lib/prometheus/node-exporter
    playbook -e hbafw_metrics=true || fail "second install failed: $(tail -20 "$run/out")"
    timer enabled && timer active || fail "the timer is not enabled and started"
    playbook -e hbafw_metrics=true || fail "third install failed: $(tail -20 "$run/out")"
    [[ $(changed) == 0 ]] || fail "a run over an installed server changed $(changed) things: $(grep -B3 'changed:' "$run/out")"
    playbook -e hbafw_metrics=false || fail "install without metrics failed: $(tail -20 "$run/out")"
    timer enabled && fail "hbafw_metrics false left the timer enabled"
}

"stage_$STAGE"
exit "$failed"
