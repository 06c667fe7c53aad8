#!/bin/sh
# Installs the built application into its own folder (default ~/.local/opt/Brindlebox): scripts/install.sh [DIR]
exec cmake --install "$(dirname "$0")/../build" --prefix "${1:-$HOME/.local/opt/Brindlebox}"
