#!/usr/bin/env bash
# The main job: installs what is needed, builds Tremblorix and Vantrel, and
# runs Tremblorix on a shaky movie (a generated demo movie, or the movie
# given).
#   bash scripts/run-main.sh [MOVIE]
# With a display (DISPLAY or WAYLAND_DISPLAY) the program opens the movie in
# its window for you to work with. Without one it runs the whole job itself,
# headless: open the movie, analyse its motion, open the stabilisation
# session, set a smoothing time, apply, save, export through Vantrel, quit;
# out/ then holds the steadied movie, the saved movie with its motion-data
# and control tracks, and a photo of the window at each step.
#   TRX_HEADLESS=1   the headless job even with a display
#   --engine [MOVIE] the developers' road without the desktop program
#                    (tools/trx_stabilise: analyse, stabilise, export)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
mkdir -p out

if [ "${1:-}" = "--engine" ]; then
  shift
  cmake --build build/release -j "$(nproc)" --target trx_stabilise Vantrel
  build/release/tools/trx_stabilise "$@" --out out
  echo "Results are in $root/out:"
  ls -l out
  exit 0
fi

cmake --build build/release -j "$(nproc)" --target Tremblorix Vantrel trx_stabilise
program=$root/build/release/Tremblorix.app/Contents/MacOS/Tremblorix

movie=${1:-}
if [ -z "$movie" ]; then
  movie=$root/out/shaky-demo.mov
  build/release/tools/trx_stabilise --generate "$movie" --frames 60 --size 640x360
fi
movie=$(realpath "$movie")
[ -f "$movie" ] || { echo "run-main: no such movie: $movie" >&2; exit 2; }
name=$(basename "${movie%.*}")

if [ "${TRX_HEADLESS:-0}" != "1" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  echo "Starting Tremblorix on $movie (Movie > Analyse Motion, then Begin Stabilisation Session)"
  exec "$program" "$movie"
fi

# Headless: the same job through the program itself.
export QT_QPA_PLATFORM=offscreen
if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -w "${XDG_RUNTIME_DIR:-/nonexistent}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  chmod 700 "$XDG_RUNTIME_DIR"
  export XDG_RUNTIME_DIR
fi
shots=$root/out/screenshots
mkdir -p "$shots"
saved=$root/out/$name-saved.mov
steady=$root/out/$name-steady.mp4
rm -f "$saved" "$steady"
script=$root/out/main-job.script
cat > "$script" <<EOF
# The main job, step by step as a user would through the menus.
out $shots
until windows=1 60
wait 0.5
shot 1-opened
command 6001
until analysed 900
shot 2-analysed
command 6003
until session 60
wait 0.5
shot 3-session
set smoothing 2.0
wait 0.5
shot 4-smoothing
command 6004
until nosession 120
wait 0.5
shot 5-applied
answer save 1 $saved
command 6
until saved 300
shot 6-saved
set exporter mpg4
answer save 1 $steady
command 6100
wait 0.5
shot 7-exporting
until exported 900
shot 8-exported
quit
EOF
echo "Running Tremblorix headless on $movie"
"$program" --script "$script" "$movie"
echo "Results are in $root/out:"
ls -l "$root/out" "$shots"
