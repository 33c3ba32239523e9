#!/usr/bin/env bash
# Sets up the machine, builds Corvista (Release) and starts it in run/ under
# the checkout, where setting.ini and (by default) the pictures go. Without
# CORVISTA_CAMERAS the camera search lists the built-in simulated cameras
# first, then any GenICam camera on the network or USB (docs/simulator.md).
# Usage: scripts/run.sh          on a desktop
#        scripts/run.sh --xvfb   on a machine without display, in a virtual X server
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-release"

use_xvfb=0
case "${1:-}" in
--xvfb) use_xvfb=1 ;;
"") ;;
*)
    echo "usage: scripts/run.sh [--xvfb]" >&2
    exit 2
    ;;
esac

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCORVISTA_BUILD_TESTS=OFF -DCORVISTA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "${CORVISTA_JOBS:-$(nproc)}" --target corvista

# The program keeps "setting.ini" in its working directory and, with the
# folder left at ".", writes its pictures there too (several a second with
# the simulator). That is run/ under the checkout, kept out of git, never the
# source tree itself.
workdir="$root/run"
mkdir -p "$workdir"
cd "$workdir"
say_where() {
    local pictures=""
    if [ -f setting.ini ]; then
        pictures="$(sed -n 's/^SaveDir=//p' setting.ini | head -n 1)"
    fi
    if [ -z "$pictures" ] || [ "$pictures" = "." ]; then
        pictures="$workdir"
    fi
    echo "run.sh: Corvista runs in $workdir"
    echo "run.sh: settings: $workdir/setting.ini; pictures: $pictures (change it in the settings dialog)"
}
if [ "$use_xvfb" = 1 ]; then
    say_where
    exec xvfb-run -a -s "-screen 0 1400x800x24" "$build/corvista"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<TEXT
run.sh: Corvista is built ($build/corvista), but there is no display to show
its window on: both DISPLAY and WAYLAND_DISPLAY are empty.
Start it in a virtual X server instead:
    scripts/run.sh --xvfb
(which runs: xvfb-run -a -s "-screen 0 1400x800x24" $build/corvista)
or log in to a desktop session, or connect with X forwarding (ssh -X).
TEXT
    exit 1
fi
say_where
exec "$build/corvista"
