#!/usr/bin/env bash
# Inside the private D-Bus session: starts the accessibility bus, runs the
# command, stops the bus.
set -uo pipefail
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
launcher=$!
# Bounded wait for the launcher to own its name on the session bus.
for _ in $(seq 50); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q true && break
  sleep 0.1
done
"$@"
status=$?
kill "$launcher" 2>/dev/null
wait "$launcher" 2>/dev/null
exit $status
