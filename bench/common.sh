# Shared by the benchmark scripts (sourced): finding the build, the tools and a work directory.

# bench_cli DEFAULT_BUILD: sets `cli` to the absolute path of sejfko-cli in $BUILD_DIR (or
# DEFAULT_BUILD); exits 2 with the build commands when it is missing.
bench_cli() {
    local build=${BUILD_DIR:-$1}
    if [[ ! -x $build/src/sejfko-cli ]]; then
        echo "missing $build/src/sejfko-cli: cmake -S $here/.. -B $build" \
            "-DCMAKE_BUILD_TYPE=Release -DSEJFKO_WITH_GUI=OFF && cmake --build $build" \
            "--target sejfko-cli zipengine" >&2
        exit 2
    fi
    cli=$(cd "$build/src" && pwd)/sejfko-cli
}

# bench_tools TOOL...: exits 2 naming the first tool that is missing. Also sets `python` to
# Debian's interpreter (the one with the distribution's modules) when there is one.
bench_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" > /dev/null || { echo "missing $tool" >&2; exit 2; }
    done
    python=/usr/bin/python3
    [[ -x $python ]] || python=$(command -v python3) || { echo "missing python3" >&2; exit 2; }
}

# bench_workdir NAME NEED_KIB: a fresh directory under $BENCH_DIR (default /var/tmp, on disk) in
# `work`, removed at exit unless KEEP=1; exits 3 when less than NEED_KIB is free there.
bench_workdir() {
    local base=${BENCH_DIR:-/var/tmp} free_kib
    mkdir -p "$base"
    free_kib=$(df -Pk "$base" | awk 'NR == 2 { print $4 }')
    if (( free_kib < $2 )); then
        echo "too little space in $base: $((free_kib / 1024)) MiB free, $(($2 / 1024)) MiB" \
            "needed (lower SCALE or set BENCH_DIR)" >&2
        exit 3
    fi
    work=$(mktemp -d "$base/sejfko-bench-$1.XXXXXX")
    trap '[[ ${KEEP:-0} == 1 ]] || rm -rf "$work"' EXIT
}
