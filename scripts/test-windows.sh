#!/usr/bin/env bash
# Runs the Windows build (scripts/build-windows.sh) under Wine: the core's unit tests, then a
# round trip of sejfko-cli.exe pack / verify / restore over a tree with Czech names, with the
# archive checked by unzip -t and 7zz t on Linux and the restored tree compared byte for byte,
# then a complete and an incremental run with their deletion batch (scripts/test-windows-chain.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${SEJFKO_WINDOWS_BUILD_DIR:-build-windows}"
export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-$PWD/$build_dir/wine}"
# The first start makes the prefix (a while); later ones take a second.
wineboot -i >/dev/null 2>&1 || true
# One server for every program below: a server that ends between two programs (it lingers a
# moment after the last one) can drop the next one as it connects ("wine client error").
wineserver -w
wineserver -p
stop_server() { wineserver -k 2>/dev/null || true; }
trap stop_server EXIT

# Cases that still fail under Wine, each with its reason (see README.md, "Windows"); none at
# present. POSIX-only parts of the cases skip themselves under _WIN32 and say why.
known_failing=()
filter="-$(IFS=:; echo "${known_failing[*]}")"

failed=0
total=0
for test in "$build_dir"/tests/windows/test_*_unit.exe; do
  log=$(mktemp)
  if wine "$test" --gtest_brief=1 --gtest_filter="$filter" >"$log" 2>&1; then
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log")
    skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) test.*/\1/p' "$log")
    echo "windows: $(basename "$test"): $passed passed${skipped:+, $skipped skipped}"
    total=$((total + passed))
  else
    echo "windows: $(basename "$test") FAILED:" >&2
    cat "$log" >&2
    failed=1
  fi
  rm -f "$log"
done
echo "windows: $total unit tests passed under Wine"

# The round trip.
work=$(mktemp -d)
trap 'rm -rf "$work"; stop_server' EXIT
tree="$work/zdroj"
mkdir -p "$tree/Příliš žluťoučký kůň" "$tree/ďábel/ódy" "$tree/prázdná složka"
printf 'úpěl ďábelské ódy\r\n' >"$tree/Příliš žluťoučký kůň/řeřicha.txt"
head -c 3000000 /dev/urandom >"$tree/ďábel/náhodná data.bin"
seq 1 300000 >"$tree/ďábel/ódy/čísla.txt"
: >"$tree/ďábel/prázdný soubor"
mkdir -p "$work/archivy"
to_windows() { echo "Z:${1//\//\\}"; }
cli=("$build_dir/src/sejfko-cli.exe")
wine "${cli[@]}" pack "$(to_windows "$work/archivy")" "$(to_windows "$tree")" >/dev/null
archive=$(ls "$work"/archivy/Backup_*_full.fbk)
unzip -tq "$archive"
7zz t "$archive" >/dev/null
wine "${cli[@]}" verify "$(to_windows "$archive")"
wine "${cli[@]}" restore --to "$(to_windows "$work/obnova")" "$(to_windows "$work/archivy")" \
  >/dev/null
# Stored without the drive and the leading separator, as on POSIX.
diff -r "$tree/ďábel" "$work/obnova${tree}/ďábel"
diff -r "$tree/Příliš žluťoučký kůň" "$work/obnova${tree}/Příliš žluťoučký kůň"
echo "windows: pack, unzip -t, 7zz t, verify and restore agree byte for byte"
bash scripts/test-windows-chain.sh "$build_dir"
# The version resources (windres stores their texts as UTF-16).
python3 - "$build_dir" <<'EOF'
import sys
for name, text in [("sejfko-cli.exe", "Sejfko - záloha souborů"), ("zipengine.dll", "Sejfko - knihovna")]:
    data = open(f"{sys.argv[1]}/src/{name}", "rb").read()
    for needle in (text, "1.0.0"):
        assert needle.encode("utf-16-le") in data, f"{name} has no version text {needle!r}"
print("windows: sejfko-cli.exe and zipengine.dll carry their version resources")
EOF
exit "$failed"
