#!/usr/bin/env bash
# Sets up the machine, builds and runs the main job: the status of a fresh configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
config_dir="${SEJFKO_CONFIG_DIR:-$(mktemp -d)}"
./build/src/sejfko-cli --config-dir "$config_dir" status
