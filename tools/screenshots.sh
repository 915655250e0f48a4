#!/usr/bin/env bash
# Screenshots of the desktop program under Xvfb with trayer as the notification area: the main
# window, the options dialog, the About dialog, the restore dialog, the Historie window and the
# tray menu; then without a notification
# area: the main window as it is shown then, and the desktop notification of a backup, drawn from
# the call the program sent to org.freedesktop.Notifications on a private session bus (as
# dbus-monitor recorded it; no notification service runs there). PNGs in docs/screenshots/.
# Needs xvfb, trayer, imagemagick, xdotool, dbus-daemon (dbus-monitor) and python3. The program runs on a throw-away data directory
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
for tool in Xvfb trayer import xdotool dbus-daemon dbus-monitor python3; do
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
trayer_pid=$!
pids+=($trayer_pid)
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

start_gui
press "$main" alt+s
shoot "$(xdotool search --sync --onlyvisible --name '^Obnovit soubory$' | head -1)" \
    restore-dialog.png
stop_gui

start_gui
press "$main" alt+h
shoot "$(xdotool search --sync --onlyvisible --name '^Historie$' | head -1)" history-window.png
stop_gui

# The tray menu: a right click on the icon in the trayer bar (top right corner).
start_gui
xdotool mousemove 1012 12 click 3
sleep 1
import -window root -crop 300x190+724+0 +repage "$out/tray-menu.png"
echo "screenshots: $out/tray-menu.png"
xdotool key Escape
stop_gui

# ---- Without a notification area ----------------------------------------------------------
kill "$trayer_pid" 2>/dev/null || true
sleep 1
# A session bus of our own, on which nothing answers for notifications; dbus-monitor records
# what the program sends there.
cat >"$work/bus.conf" <<CONF
<busconfig><type>session</type><listen>unix:dir=$work</listen>
<policy context="default"><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=1 >"$work/bus.address" \
    2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s $work/bus.address ]] && break; sleep 0.1; done
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus.address")
dbus-monitor --address "$DBUS_SESSION_BUS_ADDRESS" \
    "type='method_call',interface='org.freedesktop.Notifications'" >"$work/monitor.txt" 2>&1 &
pids+=($!)
sleep 1
# A backup is due at once, so the program shows its notifications.
"$cli" --config-dir "$data" config "Last run" 100 >/dev/null
"$gui" --config-dir "$data" >>"$work/gui.log" 2>&1 &
gui_pid=$!
pids+=($gui_pid)
main=$(xdotool search --sync --onlyvisible --name '^Sejfko$' | head -1)
for _ in $(seq 300); do
    [[ $(grep -c 'member=Notify' "$work/monitor.txt") -ge 2 ]] && break
    sleep 0.1
done
shoot "$main" main-window-no-tray.png
stop_gui

# The last notification as the service would receive it: summary, body, icon name, timeout.
python3 - "$work/monitor.txt" >"$work/notification.txt" <<'PY'
import re, sys
calls, current = [], None
for line in open(sys.argv[1], encoding="utf-8"):
    if "member=" in line:
        current = [] if "member=Notify" in line else None
        if current is not None:
            calls.append(current)
    elif current is not None:
        match = re.match(r'\s*(string|uint32|int32) (.*)$', line)
        if match:
            kind, value = match.groups()
            current.append((kind, value[1:-1] if kind == "string" else value))
call = calls[-1]
app, icon, summary, body = (call[i][1] for i in (0, 2, 3, 4))
timeout = [value for kind, value in call if kind == "int32"][-1]
print(summary); print(body); print("%s · %s · %d s" % (app, icon, int(timeout) // 1000))
PY
mapfile -t note <"$work/notification.txt"
convert -size 420x110 xc:none -fill '#2e3440' -stroke '#4c566a' -strokewidth 2 \
    -draw 'roundrectangle 1,1 418,108 12,12' \
    \( "$root/src/gui/icons/sejfko-64.png" \) -geometry +16+23 -composite \
    -fill white -stroke none -font DejaVu-Sans-Bold -pointsize 16 -annotate +96+38 "${note[0]}" \
    -font DejaVu-Sans -pointsize 14 -annotate +96+64 "${note[1]}" \
    -fill '#aab4c4' -pointsize 11 -annotate +96+92 "${note[2]}" \
    "$out/notification.png"
echo "screenshots: $out/notification.png"
