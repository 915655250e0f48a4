#!/usr/bin/env bash
# Sets up the machine, builds, and runs the main job on a demo configuration: one backup of the
# project's own sources (selection file with an exclusion), stored locally, then a check of the
# archive it made. SEJFKO_DEMO_DIR keeps the demo (configuration, archives) in a chosen place.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cli=./build/src/sejfko-cli
demo="${SEJFKO_DEMO_DIR:-$(mktemp -d)}"
mkdir -p "$demo/config"
root=$(pwd)
printf '%s\r\n%s\r\n%s /Exclude\r\n' "$root/src" "$root/README.md" "$root/src/gui/icons/" \
    > "$demo/config/vyber.txt"
"$cli" --config-dir "$demo/config" config "File choose" vyber.txt > /dev/null
"$cli" --config-dir "$demo/config" config "Local directory" "$demo/zalohy" > /dev/null
"$cli" --config-dir "$demo/config" run
archive=$(ls -1 "$demo/zalohy"/*.fbk | tail -n 1)
"$cli" verify "$archive"
"$cli" --config-dir "$demo/config" status
echo "Demo: $demo"
