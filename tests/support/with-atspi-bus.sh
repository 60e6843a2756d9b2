#!/bin/sh
# with-atspi-bus.sh COMMAND [ARG...]
# Runs COMMAND on a private D-Bus session bus with the AT-SPI accessibility bus started on it (the
# bus a screen reader listens on), so a Qt program run with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# turns its accessibility on and sends its names out. Asking org.a11y.Bus for its address starts
# at-spi-bus-launcher and returns once the bus is up; both go when the session bus ends.
set -eu
exec dbus-run-session -- sh -c '
    dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
    exec "$@"' with-atspi-bus "$@"
