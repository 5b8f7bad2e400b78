# Signed package repositories from built packages: an apt repository (one
# suite, one component, Packages for amd64, arm64 and all, a Release signed
# inline and detached) and a dnf repository (signed RPMs, a signed
# repomd.xml), plus the public key to hand out. Sourced after common.sh, never
# run; it builds no package and publishes nothing.

readonly REPO_SUITE=stable
readonly REPO_COMPONENT=main
readonly REPO_DEB_ARCHES=(amd64 arm64 all)
readonly REPO_TOOLS=(apt-ftparchive createrepo_c rpmsign gpg)

# make_repositories DIR KEYID PACKAGE...: DIR/apt, DIR/rpm and the public key
# as DIR/hbafw.asc (armoured, for rpm and zypper) and DIR/hbafw.gpg (binary,
# for apt's Signed-By). gpg finds KEYID where GNUPGHOME says. A package
# already in DIR with the same name is replaced; others stay, so a repository
# keeps every version published into it.
make_repositories() {
    local dir=$1 key=$2 tool arch package
    shift 2
    for tool in "${REPO_TOOLS[@]}"; do
        command -v "$tool" >/dev/null || { echo "repository: $tool is not installed (scripts/bootstrap installs it)" >&2; return 1; }
    done
    gpg --batch --list-secret-keys "$key" >/dev/null 2>&1 || { echo "repository: no secret key $key to sign with" >&2; return 1; }
    local pool=$dir/apt/pool/$REPO_COMPONENT dists=$dir/apt/dists/$REPO_SUITE
    mkdir -p "$pool" "$dir/rpm"
    for package in "$@"; do
        case $package in
            *.deb) install -m 0644 "$package" "$pool/" ;;
            *.rpm) install -m 0644 "$package" "$dir/rpm/" ;;
            *) echo "repository: not a package: $package" >&2; return 1 ;;
        esac
    done
    gpg --batch --yes --armor --export "$key" >"$dir/hbafw.asc" &&
        gpg --batch --yes --export "$key" >"$dir/hbafw.gpg" || return 1

    # binary-ARCH/Packages lists that architecture's packages and the
    # architecture-independent ones, as apt expects of every suite.
    for arch in "${REPO_DEB_ARCHES[@]}"; do
        local listing=$dists/$REPO_COMPONENT/binary-$arch
        mkdir -p "$listing"
        (cd "$dir/apt" && apt-ftparchive --arch "$arch" packages "pool/$REPO_COMPONENT") >"$listing/Packages" || return 1
        gzip -9nfk "$listing/Packages"
    done
    rm -f "$dists/Release" "$dists/InRelease" "$dists/Release.gpg"
    apt-ftparchive \
        -o "APT::FTPArchive::Release::Origin=hbafw" -o "APT::FTPArchive::Release::Label=hbafw" \
        -o "APT::FTPArchive::Release::Suite=$REPO_SUITE" -o "APT::FTPArchive::Release::Codename=$REPO_SUITE" \
        -o "APT::FTPArchive::Release::Architectures=${REPO_DEB_ARCHES[*]}" \
        -o "APT::FTPArchive::Release::Components=$REPO_COMPONENT" \
        release "$dists" >"$dir/Release.new" && mv "$dir/Release.new" "$dists/Release" || return 1
    gpg --batch --yes --local-user "$key" --digest-algo SHA512 --clearsign -o "$dists/InRelease" "$dists/Release" &&
        gpg --batch --yes --local-user "$key" --digest-algo SHA512 --armor --detach-sign -o "$dists/Release.gpg" "$dists/Release" ||
        return 1

    # rpmsign signs in place; an RPM already signed by this key is signed
    # again, harmlessly. Debian's rpm looks for gpg2, which gnupg no longer ships.
    rpmsign --define "_gpg_name $key" --define "__gpg $(command -v gpg)" --addsign "$dir"/rpm/*.rpm >/dev/null ||
        return 1
    createrepo_c --quiet --update "$dir/rpm" || return 1
    gpg --batch --yes --local-user "$key" --armor --detach-sign -o "$dir/rpm/repodata/repomd.xml.asc" \
        "$dir/rpm/repodata/repomd.xml"
}
