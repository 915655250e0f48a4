#!/usr/bin/env bash
# Part of scripts/test-windows.sh: a complete and an incremental run of sejfko-cli.exe under Wine,
# the incremental archive's deletion batch checked byte for byte against iconv's code page 852,
# and the chain restored over the complete archive's tree to exactly the final tree. Expects
# WINEPREFIX to be set; the build directory is the argument.
set -euo pipefail
build_dir="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
to_windows() { echo "Z:${1//\//\\}"; }
cli() { wine "$build_dir/src/sejfko-cli.exe" --config-dir "$(to_windows "$work/cfg")" "$@"; }

tree="$work/strom"
mkdir -p "$tree/Žluťoučký kůň" "$tree/podsložka" "$tree/R&D" "$work/cfg"
printf 'úpěl\r\n' >"$tree/Žluťoučký kůň/ďábelské ódy.txt"
printf 'zůstane\n' >"$tree/Žluťoučký kůň/řeřicha.txt"
printf 'a\n' >"$tree/a.txt"
printf '100 %%\n' >"$tree/100%.txt"
printf 'x\n' >"$tree/R&D/zpráva.doc"
printf 'y\n' >"$tree/R&D/zůstává.txt"
printf 'původní\n' >"$tree/podsložka/změněný.txt"
head -c 200000 /dev/urandom >"$tree/podsložka/data.bin"
# A link to a directory outside (Wine shows it as a reparse point): the walk must not enter it.
mkdir -p "$work/venku"
printf 'mimo výběr\n' >"$work/venku/cizí.txt"
ln -s "$work/venku" "$tree/podsložka/odkaz ven"
printf '%s\r\n' "$(to_windows "$tree")" >"$work/cfg/výběr.txt"
cli config "Local directory" "$(to_windows "$work/archivy")" >/dev/null
cli config "File choose" "výběr.txt" >/dev/null
cli config "Backup kind" 1 >/dev/null
cli run >"$work/run.log" 2>&1 || { cat "$work/run.log" >&2; exit 1; }

rm "$tree/Žluťoučký kůň/ďábelské ódy.txt" "$tree/a.txt" "$tree/100%.txt" "$tree/R&D/zpráva.doc"
printf 'změněný obsah\n' >"$tree/podsložka/změněný.txt"
touch -d '+1 minute' "$tree/podsložka/změněný.txt"
printf 'nový\n' >"$tree/podsložka/nový.txt"
cli run >"$work/run.log" 2>&1 || { cat "$work/run.log" >&2; exit 1; }

if unzip -l "$work"/archivy/Backup_*_full.fbk | grep -q 'cizí'; then
  echo "windows: the backup followed a link out of the selection" >&2
  exit 1
fi
incremental=$(ls "$work"/archivy/Backup_*.fbk | grep -v _full)
unzip -tq "$incremental" >/dev/null
# The lines as the batch names them (the drive taken off, "%" doubled, quotes around names
# with a blank or "&"), in code page 852 by iconv; the order aside.
stem="$(to_windows "$tree")"
stem="${stem#Z:}"
expected=$(printf 'del %s\r\n' "\"$stem\\Žluťoučký kůň\\ďábelské ódy.txt\"" "$stem\\a.txt" \
  "$stem\\100%%.txt" "\"$stem\\R&D\\zpráva.doc\"" | iconv -f UTF-8 -t CP852 | LC_ALL=C sort | od -An -tx1)
actual=$(unzip -p "$incremental" '!!!!!upd_arch.bat' | LC_ALL=C sort | od -An -tx1)
if [[ "$expected" != "$actual" ]]; then
  echo "windows: the deletion batch differs from iconv's code page 852:" >&2
  unzip -p "$incremental" '!!!!!upd_arch.bat' | iconv -f CP852 -t UTF-8 >&2
  exit 1
fi

# The complete archive alone, then the chain over it: the deletions are made in the tree.
restore() { wine "$build_dir/src/sejfko-cli.exe" restore --to "$(to_windows "$work/obnova")" "$@"; }
restore "$(to_windows "$(ls "$work"/archivy/Backup_*_full.fbk)")" >/dev/null 2>&1
[[ -f "$work/obnova$tree/a.txt" ]]
restore --force "$(to_windows "$work/archivy")" >"$work/restore.log" 2>&1 ||
  { cat "$work/restore.log" >&2; exit 1; }
rm "$tree/podsložka/odkaz ven"  # links are neither stored nor made in this build
diff -r "$tree" "$work/obnova$tree"
echo "windows: a complete and an incremental run, the batch in code page 852, the chain restored"
