# Helpers shared by the scripts in scripts/: where the tree is, section headers,
# and configuring and building one build folder with CMake and Ninja. Sourced,
# never run; it decides no build options itself.

HBAFW_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
readonly HBAFW_ROOT

section() {
    printf '\n==== %s ====\n' "$*"
}

# configure DIR [CMAKE_ARGS...]: DIR is relative to the tree's root.
# An existing folder keeps its generator; only the options given are updated.
configure() {
    local dir=$HBAFW_ROOT/$1
    shift
    local generator=(-G Ninja)
    [[ -f $dir/CMakeCache.txt ]] && generator=()
    mkdir -p "$dir"
    # Configure output is long and rarely read: shown only when it fails.
    cmake -S "$HBAFW_ROOT" -B "$dir" "${generator[@]}" "$@" >"$dir/configure.log" 2>&1 || {
        cat "$dir/configure.log"
        return 1
    }
}

configure_and_build() {
    configure "$@" && cmake --build "$HBAFW_ROOT/$1" -j "$(nproc)"
}

# script_usage SCRIPT: the header comment of SCRIPT without its "# ": every
# entry point's usage is its header.
script_usage() {
    sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$1"
}

# answer_help ARGS...: --help or -h among ARGS (before a "--") prints the usage
# and exits 0 before the script does anything else.
answer_help() {
    local arg
    for arg in "$@"; do
        case $arg in
            --) return 0 ;;
            --help|-h) script_usage "$0"; exit 0 ;;
        esac
    done
}
