#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a command inside a private D-Bus session with an unlocked keyring daemon of
# its own: its HOME and data directory are a temporary directory, so a test never
# touches the user's keyring nor sees another test's entries.
set -eu
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/config"
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
exec dbus-run-session -- sh -c '
  echo -n TESTPASSWORD | gnome-keyring-daemon --unlock --components=secrets >/dev/null || exit 1
  # The daemon takes its bus name, and unlocks its default collection, a moment after
  # it forks: wait until an entry can really be stored and removed.
  ready=no
  for i in $(seq 100); do
    if echo -n probe | secret-tool store --label=probe sessionconfig-probe 1 2>/dev/null &&
       secret-tool clear sessionconfig-probe 1 2>/dev/null; then
      ready=yes
      break
    fi
    sleep 0.1
  done
  [ "$ready" = yes ] || { echo "with-secret-store: the keyring daemon never became ready" >&2; exit 1; }
  exec "$@"' sh "$@"
