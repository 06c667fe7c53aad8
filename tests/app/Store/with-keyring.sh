#!/bin/sh
# Runs a command on a private session bus with a fresh, unlocked keyring in a
# throw-away home, so the tests never see the user's own keyring.
set -e
scratch=$(mktemp -d "${TMPDIR:-/tmp}/bx-keyring.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/run"
export HOME="$scratch" XDG_DATA_HOME="$scratch/data" XDG_RUNTIME_DIR="$scratch/run" XDG_CONFIG_HOME="$scratch/config"
dbus-run-session -- sh -c '
  printf "test" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  BX_KEYRING_TESTS=1 "$@"' sh "$@"
