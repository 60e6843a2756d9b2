#!/bin/sh
# Runs a command inside a headless Wayland desktop of its own: sway on a headless output with a
# moving client, PipeWire + WirePlumber, and xdg-desktop-portal with the wlroots backend set to
# share that output without asking. Meant to run under dbus-run-session (a private bus).
#
# Usage: wayland-stack.sh WORK_FOLDER MOVING_WINDOW_PROGRAM COMMAND [ARG...]
# Exits with the command's status (125 when the desktop did not come up). Every daemon's log is
# left in WORK_FOLDER; all daemons are stopped on the way out.
set -u
work=$1
moving_window=$2
shift 2
mkdir -p "$work/run" "$work/config/xdg-desktop-portal-wlr" "$work/config/pipewire"
chmod 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run"
export XDG_CONFIG_HOME="$work/config"
export XDG_SESSION_TYPE=wayland
export XDG_CURRENT_DESKTOP=sway
export PULSE_SERVER=unix:/nonexistent
unset DISPLAY WAYLAND_DISPLAY

# Unquoted heredocs: the paths are written into the files.
cat >"$work/sway.conf" <<CONF
output HEADLESS-1 resolution 640x480
exec env QT_QPA_PLATFORM=wayland "$moving_window"
CONF
cat >"$work/config/xdg-desktop-portal-wlr/config" <<CONF
[screencast]
output_name=HEADLESS-1
chooser_type=none
max_fps=30
CONF

pids=""
stop_all() {
    for pid in $pids; do kill "$pid" 2>/dev/null; done
    for pid in $pids; do wait "$pid" 2>/dev/null; done
}
trap stop_all EXIT

# The software renderer where there is no GPU render node to draw with.
if ! ls /dev/dri/renderD* >/dev/null 2>&1; then export WLR_RENDERER=pixman; fi
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 &
pids="$pids $!"
i=0
while [ -z "$(ls "$XDG_RUNTIME_DIR" | grep '^wayland-[0-9]*$')" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ]; then echo "wayland-stack: sway did not start (see $work/sway.log)" >&2; exit 125; fi
    sleep 0.1
done
WAYLAND_DISPLAY=$(ls "$XDG_RUNTIME_DIR" | grep '^wayland-[0-9]*$' | head -n 1)
export WAYLAND_DISPLAY
export SWAYSOCK="$(ls "$XDG_RUNTIME_DIR"/sway-ipc.* 2>/dev/null | head -n 1)"

pipewire >"$work/pipewire.log" 2>&1 &
pids="$pids $!"
i=0
while [ ! -S "$XDG_RUNTIME_DIR/pipewire-0" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ]; then echo "wayland-stack: pipewire did not start (see $work/pipewire.log)" >&2; exit 125; fi
    sleep 0.1
done
wireplumber >"$work/wireplumber.log" 2>&1 &
pids="$pids $!"
/usr/libexec/xdg-desktop-portal-wlr -l DEBUG >"$work/portal-wlr.log" 2>&1 &
pids="$pids $!"
/usr/libexec/xdg-desktop-portal -v >"$work/portal.log" 2>&1 &
pids="$pids $!"
i=0
until dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop \
    org.freedesktop.DBus.Properties.Get string:org.freedesktop.portal.ScreenCast string:version >/dev/null 2>&1; do
    i=$((i + 1))
    if [ $i -gt 100 ]; then echo "wayland-stack: the screen cast portal did not answer (see $work/portal*.log)" >&2; exit 125; fi
    sleep 0.1
done

"$@"
status=$?
exit $status
