#!/usr/bin/env bash
# Installs Tremblorix for the current user: the desktop entry into
# ~/.local/share/applications (pointing at this build's program) and the icon
# into the user's icon theme, so that menus show the program and file
# managers offer "Open with Tremblorix" for movies. Builds first when needed.
#   bash scripts/install-desktop.sh [--uninstall]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
data=${XDG_DATA_HOME:-$HOME/.local/share}
apps=$data/applications
icons=$data/icons/hicolor/scalable/apps

if [ "${1:-}" = "--uninstall" ]; then
  rm -f "$apps/tremblorix.desktop" "$icons/tremblorix.svg"
  command -v update-desktop-database >/dev/null && update-desktop-database "$apps" || true
  echo "Tremblorix removed from $apps"
  exit 0
fi

bundle=$root/build/release/Tremblorix.app
program=$bundle/Contents/MacOS/Tremblorix
if [ ! -x "$program" ]; then
  cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/release -j "$(nproc)" --target Tremblorix
fi

mkdir -p "$apps" "$icons"
# The bundle's entry names the program; the installed one its full path.
sed -e "s|^Exec=Tremblorix|Exec=\"$program\"|" -e "s|^TryExec=Tremblorix|TryExec=$program|" \
  "$bundle/Contents/Resources/tremblorix.desktop" > "$apps/tremblorix.desktop"
cp "$bundle/Contents/Resources/tremblorix.svg" "$icons/tremblorix.svg"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$apps/tremblorix.desktop"; fi
command -v update-desktop-database >/dev/null && update-desktop-database "$apps" || true
command -v gtk-update-icon-cache >/dev/null && gtk-update-icon-cache -q -t "$data/icons/hicolor" || true
echo "Installed $apps/tremblorix.desktop (runs $program)"
