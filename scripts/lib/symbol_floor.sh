# The symbol floor of the distributions the binaries must run on, and the check
# of a binary against it. Sourced by scripts/portable; run as
#   symbol_floor.sh OBJDUMP LABEL BINARY...
# by the bundle (cmake/Bundle.cmake). Prints one row per binary with the
# highest versions it needs and names each symbol or library above the floor;
# the exit status is 1 when any binary is above it.

# The floor: RHEL 7's glibc; GCC 5's libstdc++ (RHEL 8, SLES 15, Ubuntu 20.04, Debian 11).
readonly MAX_GLIBC=2.17 MAX_GLIBCXX=3.4.21 MAX_CXXABI=1.3.9
readonly ALLOWED_NEEDED='^(libc\.so\.6|libm\.so\.6|libdl\.so\.2|libpthread\.so\.0|libgcc_s\.so\.1|libstdc\+\+\.so\.6|libxml2\.so\.2|ld-linux-x86-64\.so\.2|ld-linux-aarch64\.so\.1)$'

# version_above VERSION MAX: VERSION sorts after MAX.
version_above() {
    [[ $1 != "$2" && $(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -1) == "$1" ]]
}

# symbol_floor_check OBJDUMP LABEL BINARY...
symbol_floor_check() {
    local objdump=$1 label=$2 path name symbols needed ok=0
    shift 2
    command -v "$objdump" >/dev/null || { echo "$objdump is not installed (scripts/bootstrap installs it)"; return 1; }
    printf '%-18s %-8s %-8s %-8s\n' binary GLIBC GLIBCXX CXXABI
    for path in "$@"; do
        name=$(basename "$path")
        [[ -f $path ]] || { echo "FAIL: $name was not built"; ok=1; continue; }
        # Lines such as "0000 DF *UND* 0000 (GLIBC_2.14) memcpy" or "... GLIBCXX_3.4.21 _ZNSt..."
        symbols=$("$objdump" -T "$path" | sed -nE 's/.*[ (]((GLIBC|GLIBCXX|CXXABI)_[0-9.]+)\)? +(.*)$/\1 \3/p')
        local row=() family max version symbol
        for family in GLIBC:$MAX_GLIBC GLIBCXX:$MAX_GLIBCXX CXXABI:$MAX_CXXABI; do
            max=${family#*:}
            family=${family%%:*}
            version=$(awk -v f="${family}_" 'index($1, f) == 1 && $1 ~ ("^" f "[0-9.]+$") { print substr($1, length(f) + 1) }' <<<"$symbols" | sort -V | tail -1)
            row+=("${version:--}")
            [[ -n $version ]] && version_above "$version" "$max" || continue
            while read -r version symbol; do
                version_above "${version#"${family}"_}" "$max" && echo "FAIL: $name ($label) needs ${version} for $symbol (at most ${family}_$max allowed)"
            done < <(grep -E "^${family}_[0-9.]+ " <<<"$symbols")
            ok=1
        done
        printf '%-18s %-8s %-8s %-8s\n' "$name" "${row[@]}"
        needed=$("$objdump" -p "$path" | awk '$1 == "NEEDED" { print $2 }')
        while read -r library; do
            [[ -z $library || $library =~ $ALLOWED_NEEDED ]] && continue
            echo "FAIL: $name ($label) needs the library $library, which the target distributions may lack"
            ok=1
        done <<<"$needed"
    done
    return "$ok"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    set -uo pipefail
    [[ $# -ge 3 ]] || { echo "usage: symbol_floor.sh OBJDUMP LABEL BINARY..." >&2; exit 2; }
    symbol_floor_check "$@"
fi
