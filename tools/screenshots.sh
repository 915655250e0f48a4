#!/usr/bin/env bash
# Screenshots of the desktop program under Xvfb with trayer as the notification area: the main
# window, the options dialog, the About dialog and the tray menu, as PNGs in docs/screenshots/.
# Needs xvfb, trayer, imagemagick and xdotool. The program runs on a throw-away data directory
# that has made one real backup of the program's own sources (through sejfko-cli), so the
# window shows real values.
#
# Usage: tools/screenshots.sh [BUILD_DIR]   (default: build; the programs are in BUILD_DIR/src)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
gui=$build/src/sejfko
cli=$build/src/sejfko-cli
out=$root/docs/screenshots
for tool in Xvfb trayer import xdotool; do
    command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing" >&2; exit 1; }
done
[[ -x $gui && -x $cli ]] || { echo "screenshots: build $gui and $cli first" >&2; exit 1; }
mkdir -p "$out"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Czech texts and month names where the system has the locale.
if locale -a 2>/dev/null | grep -qi '^cs_CZ\.utf-\?8$'; then
    export LANG=cs_CZ.UTF-8 LC_ALL=cs_CZ.UTF-8
fi

data=$work/data
mkdir -p "$data" "$work/zalohy"
echo "$root/src/gui" > "$work/vyber.txt"
"$cli" --config-dir "$data" config "File choose" "$work/vyber.txt" >/dev/null
"$cli" --config-dir "$data" config "Local directory" "$work/zalohy" >/dev/null
"$cli" --config-dir "$data" config "In time" 0.875 >/dev/null 2>&1 ||
    "$cli" --config-dir "$data" config "In time" 0,875 >/dev/null
"$cli" --config-dir "$data" config "Backup kind" 1 >/dev/null
"$cli" --config-dir "$data" config "Completely week backup day" 5 >/dev/null
"$cli" --config-dir "$data" config "Backup count" 14 >/dev/null
"$cli" --config-dir "$data" run >/dev/null 2>&1

display=:$((70 + RANDOM % 200))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
# A plain backdrop, so that the shots do not show Xvfb's pattern.
xsetroot -solid '#3b4252' 2>/dev/null || true
trayer --edge top --align right --widthtype pixel --width 100 --height 24 \
    --transparent false --tint 0xd0d0d0 >/dev/null 2>&1 &
pids+=($!)
sleep 1

gui_pid=
main=
start_gui() {  # starts the program and shows its main window (its id in $main)
    "$gui" --config-dir "$data" >>"$work/gui.log" 2>&1 &
    gui_pid=$!
    pids+=($gui_pid)
    sleep 2
    # A second start shows the first copy's main window.
    "$gui" --config-dir "$data"
    main=$(xdotool search --sync --onlyvisible --name '^Sejfko$' | head -1)
}
stop_gui() {
    kill "$gui_pid" 2>/dev/null || true
    wait "$gui_pid" 2>/dev/null || true
    sleep 0.5
}
shoot() {  # window id, file name
    sleep 1
    import -window "$1" "$out/$2"
    echo "screenshots: $out/$2"
}
# Keys go to the window under the pointer (no window manager runs).
press() {  # window id, key
    xdotool mousemove --window "$1" 30 30
    sleep 0.3
    xdotool key "$2"
}

start_gui
shoot "$main" main-window.png
stop_gui

start_gui
press "$main" alt+n
shoot "$(xdotool search --sync --onlyvisible --name '^Nastavení zálohování$' | head -1)" \
    options-dialog.png
stop_gui

start_gui
press "$main" alt+o
shoot "$(xdotool search --sync --onlyvisible --name '^O programu$' | head -1)" about-dialog.png
stop_gui

# The tray menu: a right click on the icon in the trayer bar (top right corner).
start_gui
xdotool mousemove 1012 12 click 3
sleep 1
import -window root -crop 300x190+724+0 +repage "$out/tray-menu.png"
echo "screenshots: $out/tray-menu.png"
xdotool key Escape
stop_gui
