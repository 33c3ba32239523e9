#!/bin/sh
# How fast a line rate corvista-acquire sustains on bench_pipeline's camera:
# 4096 px Mono8 with sensor-like noise, 1024 lines per frame, batches of 30
# stitched Left. For each format a bisection of short trials finds the highest
# rate without a lost or dropped frame and with at most two batches waiting
# to be saved at the end of the trial; a long trial confirms it. Files are
# removed as they appear, as bench_pipeline does. Prints the peak memory
# (VmHWM) of each trial.
#
#   bench/bench_acquire.sh BUILD_DIR [TRIAL_S] [CONFIRM_S] [FORMATS] [LOW] [HIGH] [STEPS]
set -eu
build=$(cd "$1" && pwd)
trial=${2:-10}
confirm=${3:-60}
formats=${4:-TIFF JPG}
low=${5:-5000}
high=${6:-60000}
steps=${7:-4}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints "ok|FAIL frames lost dropped backlog VmHWM_KiB" for one trial.
trial() {
    format=$1 rate=$2 seconds=$3
    rm -rf "$work/out" && mkdir -p "$work/out"
    printf '[BENCH]\ntransport = USB3\nwidth = 4096\nlines_per_frame = 1024\npixel_format = Mono8\nline_rate = %s\nmax_line_rate = %s\nexposure_time = 10\nnoise = 12\nbuffer_count = 32\n' \
        "$rate" "$rate" >"$work/camera.ini"
    (cd "$work" && CORVISTA_CAMERAS=simulator CORVISTA_SIM_CONFIG="$work/camera.ini" \
        "$build/corvista-acquire" --seconds "$seconds" --count 30 --direction left --format "$format" \
        --out "$work/out" --json >"$work/summary.json" 2>"$work/progress.txt") &
    pid=$!
    sleep 0.2
    acquire=$(pgrep -P "$pid" -n || echo "$pid")
    hwm=0
    while kill -0 "$pid" 2>/dev/null; do
        find "$work/out" -name 'Stitched_*' -delete 2>/dev/null || true
        if [ -n "$acquire" ]; then
            now=$(awk '/VmHWM/ {print $2}' "/proc/$acquire/status" 2>/dev/null || echo 0)
            [ "${now:-0}" -gt "$hwm" ] && hwm=$now
        fi
        sleep 0.5
    done
    wait "$pid" || true
    python3 - "$work/summary.json" "$work/progress.txt" "$seconds" "$hwm" <<'PY'
import json, re, sys
summary = json.load(open(sys.argv[1]))
lines = [l for l in open(sys.argv[2]).read().replace('\r', '\n').split('\n') if 'lines/s' in l]
seconds = int(sys.argv[3])
# The backlog at the end of grabbing: the progress line of the last second of the trial.
backlog = int(re.search(r'(\d+) batches to save', lines[min(seconds - 1, len(lines) - 1)]).group(1)) if lines else 99
ok = summary['lost'] == 0 and summary['dropped'] == 0 and backlog <= 2 and summary['frames'] > 0
print('%s frames %d lost %d dropped %d backlog %d VmHWM %d MiB' % (
    'ok  ' if ok else 'FAIL', summary['frames'], summary['lost'], summary['dropped'], backlog, int(sys.argv[4]) // 1024))
PY
}

# The same search as bench_pipeline's: 30000 first, then halves on a 500
# grid until the interval is 1000 wide; the confirmation steps down by a
# tenth, at most three times, until the rate holds.
for format in $formats; do
    lo=$low hi=$high best=0 i=0
    while [ "$i" -lt "$steps" ]; do
        if [ "$i" -eq 0 ]; then rate=$((hi < 30000 ? hi : 30000)); else rate=$(( (lo + hi) / 2 / 500 * 500 )); fi
        result=$(trial "$format" "$rate" "$trial")
        echo "  $format $rate lines/s ${trial} s: $result"
        case $result in ok*) best=$rate lo=$rate ;; *) hi=$rate ;; esac
        i=$((i + 1))
        [ $((hi - lo)) -le 1000 ] && break
    done
    [ "$best" -gt 0 ] || best=$low
    tries=0
    while [ "$tries" -lt 3 ]; do
        result=$(trial "$format" "$best" "$confirm")
        echo "$format confirm $best lines/s ${confirm} s: $result"
        case $result in ok*) break ;; esac
        best=$((best * 9 / 10 / 500 * 500))
        tries=$((tries + 1))
    done
done
