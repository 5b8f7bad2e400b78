# The hbafw.fleet collection's own gates, run as its maintainers run them: on a
# copy laid out as ansible_collections/hbafw/fleet, offline, with Debian's
# tools. Sourced after common.sh, never run. A caller may set COLLECTION_DIR
# first (a CTest test works in its build tree, so it never races scripts/test).

readonly COLLECTION_SOURCE=$HBAFW_ROOT/deploy/ansible/ansible_collections/hbafw/fleet
readonly COLLECTION_DIR=${COLLECTION_DIR:-$HBAFW_ROOT/build-collection}
readonly COLLECTION_COPY=$COLLECTION_DIR/ansible_collections/hbafw/fleet

# collection_copy: a fresh copy of the collection, without byte code, in a
# repository of its own: ansible-test takes its files from git, and the tree's
# own repository ignores the build folder.
collection_copy() {
    rm -rf "$COLLECTION_COPY"
    mkdir -p "$(dirname "$COLLECTION_COPY")" "$COLLECTION_DIR/home"
    cp -a "$COLLECTION_SOURCE" "$COLLECTION_COPY"
    find "$COLLECTION_COPY" -name __pycache__ -prune -exec rm -rf {} +
    git -C "$COLLECTION_COPY" init -q && git -C "$COLLECTION_COPY" add -A
}

# in_collection COMMAND...: COMMAND in the copy, with a home of its own so the
# tools' caches and virtual environments stay in the build folder. The
# trailing slash matters: ansible-lint's runtime looks for collections in the
# parent of the last component of ANSIBLE_COLLECTIONS_PATH.
in_collection() {
    (cd "$COLLECTION_COPY" && env HOME="$COLLECTION_DIR/home" ANSIBLE_COLLECTIONS_PATH="$COLLECTION_DIR/" \
        NO_COLOR=1 PATH=/usr/bin:/bin:/usr/sbin:/sbin "$@")
}

# ready_venv PATH: the virtual environment ansible-test wants at PATH, made from
# the system's Python with its packages, and marked as installed so
# ansible-test uses it instead of fetching pip.
ready_venv() {
    local venv=$1 python
    python=/usr/bin/python$(basename "$(dirname "$venv")")
    rm -rf "$venv"
    "$python" -m venv --system-site-packages --without-pip "$venv" || return 1
    echo '[]' >"$venv/meta.install.json"
    echo 'true' >"$venv/meta.yaml.json"
    : >"$venv/marker.txt"
}

# collection_sanity: every ansible-test sanity test. A test whose tools come
# from pip stops the run, naming the environment it wants; that environment is
# made from Debian's packages and the run starts again (once per environment,
# then they are reused). The changelog test needs antsibull-changelog, which
# Debian does not package; ansible-lint checks changelog.yaml's schema instead.
collection_sanity() {
    local log=$COLLECTION_DIR/sanity.log attempt venv
    for attempt in {1..15}; do
        in_collection ansible-test sanity --color no -v --skip-test changelog >"$log" 2>&1 && {
            grep -E '^(Running sanity test|WARNING: Skipping)' "$log"
            return 0
        }
        venv=$(sed -nE 's/^FATAL: Python .* at "(.*)\/bin\/python" does not have pip available\.$/\1/p' "$log")
        [[ -n $venv ]] || break
        echo "sanity: making $venv from the system's Python (attempt $attempt)"
        ready_venv "$venv" || break
    done
    grep -vE '^(Run command|Stream command|Initializing|Creating|Read [0-9]+ sanity)' "$log" | tail -60
    echo "sanity: failed (log: $log)"
    return 1
}

# collection_units: the collection's unit tests (tests/unit) under ansible-test
# units, with the controller's Python: pytest and its plugins are Debian's, so
# nothing is fetched. Prints each test's result line and the summary.
collection_units() {
    local log=$COLLECTION_DIR/units.log python
    python=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    if in_collection ansible-test units --color no -v --python "$python" >"$log" 2>&1; then
        grep -E ' (PASSED|SKIPPED) |^=+ .* in [0-9.]+s' "$log" | sed -E 's/^\[gw[0-9]+\] \[ *[0-9]+%\] //'
        return 0
    fi
    grep -vE '^(Run command|Stream command|Initializing|Creating|Injecting)' "$log" | tail -80
    echo "units: failed (log: $log)"
    return 1
}

# collection_lint: ansible-lint's production profile over the whole collection,
# with the collection on the path so its modules' arguments are checked too.
collection_lint() {
    in_collection ansible-lint --offline --nocolor -p --profile production
}
