#!/usr/bin/env bash
# Applies realistic faults to the product code one at a time, rebuilds, runs
# the test suite and prints which test program caught each fault: a fault no
# test catches is a hole in the suite. The source file is restored after each
# fault, whatever happens.
#
# Usage: scripts/mutate.sh [--build DIR] [--list] [--only ID[,ID...]] [--jobs N]
#   --build DIR  build directory to use (default: build-mutate under the checkout;
#                configured as the strict debug build with tests, without benchmarks)
#   --list       print the faults and whether each still applies, build nothing
#   --only       run only the named faults
#
# Each fault is a text replacement that must match exactly once in its file;
# one that no longer matches is reported as "stale" (the code moved on).
# Prints one line a fault: ID, area, result (caught by <test> / MISSED /
# stale / no build), then a count. Needs python3 for the replacements.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-mutate"
jobs="${CORVISTA_JOBS:-$(nproc)}"
list_only=0
only=""
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build="$(realpath -m "$2")"; shift 2 ;;
    --list) list_only=1; shift ;;
    --only) only="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    *) echo "mutate.sh: unknown option $1" >&2; exit 2 ;;
    esac
done

# id|area|file|text to find|text to put instead|the fault
faults="$(cat <<'EOF'
seg-limit|stitch|stitch/composer.cpp|if (length > limit) {|if (length >= limit) {|a frame exactly at the segment limit counted as oversized
seg-accumulate|stitch|stitch/composer.cpp|if (taken && accumulated + length > limit)|if (taken && accumulated + length >= limit)|a segment closed one pixel early
draw-reverse|stitch|stitch/composer.cpp|return direction == 1 \|\| direction == 3;|return direction == 1 \|\| direction == 2;|Bottom laid out last first instead of Top
turn-quarter|stitch|stitch/turnedcopy.cpp|const qsizetype at = qsizetype(turn == 90 ? rows[y] : w - 1 - rows[y]) * SB;|const qsizetype at = qsizetype(turn == 90 ? rows[y] : w - rows[y]) * SB;|a quarter turn's row off by one
turn-half|stitch|stitch/turnedcopy.cpp|const uchar *s = frame.constScanLine(h - 1 - rows[y]);|const uchar *s = frame.constScanLine(h - 1 - rows[y] / 2 * 2);|a half turn repeats every other row
widen-gray|stitch|stitch/turnedcopy.cpp|        d[0] = d[1] = d[2] = s[x];|        d[0] = d[1] = d[2] = s[x ? x - 1 : 0];|gray widened to RGB from the neighbouring pixel in the tail
png-average|stitch|stitch/pngfilter.cpp|        return uchar(x - ((a + b) >> 1));|        return uchar(x - ((a + b + 1) >> 1));|PNG Average filter rounds up
png-paeth|stitch|stitch/pngfilter.cpp|    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;|    return pa <= pb && pa <= pc ? a : pb < pc ? b : c;|PNG Paeth tie goes to c instead of b
png-choice|stitch|stitch/pngfilter.cpp|        if (costs[type] < costs[best])|        if (costs[type] <= costs[best])|PNG filter choice takes the later filter on a tie
deflate-tolerance|stitch|stitch/deflatepiece.cpp|reference + reference / 100|reference + reference / 10|deflate level chosen within 10 % instead of 1 %
name-width|stitch|stitch/naming.cpp|return segmentCount < 100 ? 2 : 3;|return segmentCount <= 100 ? 2 : 3;|segment numbers two digits wide for 100 segments
name-single|stitch|stitch/naming.cpp|    if (segmentCount != 1)|    if (segmentCount > 2)|a two-segment batch named without segment numbers
pool-order|stitch|stitch/savepool.cpp|    for (const auto &report : reports)|    for (auto it = reports.rbegin(); it != reports.rend(); ++it) if (const auto \&report = *it; true)|progress reports delivered newest first
durable-number|storage|storage/durablefile.cpp|        if (error != EEXIST)\n            return fail(error);\n    }\n    return fail(EEXIST);|        if (error != EEXIST \&\& error != 0)\n            return fail(error);\n        break;\n    }\n    return fail(EEXIST);|a taken name is not numbered on, the save fails
durable-sync|storage|storage/descriptordevice.cpp|    if (m_error == 0 && sync && ::fsync(m_fd) != 0)|    if (m_error == 0 \&\& sync \&\& ::fsync(m_fd) != 0 \&\& false)|a failed fsync ignored
durable-error|storage|storage/descriptordevice.cpp|    if (m_fd < 0 \|\| m_error != 0)|    if (m_fd < 0)|writes go on after one failed
budget-fits|camera|camera/intakegate.cpp|    if (held + bytes > m_limit) {|    if (held + bytes / 2 > m_limit) {|the budget admits a frame that passes it
budget-drop|camera|camera/framebudget.cpp|    if (!admitted) {\n        ++m_dropped;|    if (!admitted) {|a refused frame is not counted as dropped
frame-follows|camera|camera/framestatistics.cpp|    return next == previous + 1u \|\| (previous == lastBlockId && next == 1u);|    return next == previous + 1u \|\| (previous == lastBlockId \&\& next == 0u);|the frame number's wrap to 1 counted as a gap
batch-count|session|session/acquisitionsession.cpp|    if (m_batchFrames.size() >= m_options.maxStitchCount \|\| m_ledger->openBatchOutgrowsBudget())|    if (m_batchFrames.size() > m_options.maxStitchCount \|\| m_ledger->openBatchOutgrowsBudget())|a batch holds one frame more than set
zoom-min|app|app/viewmath.cpp|    return std::max(usableScale(currentScale) / kZoomStep, kMinZoom);|    return usableScale(currentScale) / kZoomStep;|zooming out has no lower limit
settings-nul|session|session/appsettings.cpp|    if (bytes.contains('\0'))|    if (bytes.contains('\1'))|a settings file with a NUL byte is taken as valid
dialog-count|dialogs|dialogs/settingdialog.cpp|        AppSettings::setValue(AppSettings::kMaxStitchCount, int(count));\n        emit|        emit|a typed frame count is not stored
dialog-rate|dialogs|dialogs/settingdialog.cpp|    const int status = m_camera->setInt("AcquisitionLineRate", rate);|    const int status = m_camera->setInt("AcquisitionLineRate", rate + 1);|the line rate written off by one
sdk-bufover|sdk|sdk/src/sim/simdevice.cpp|            if (size < bytes)|            if (size + 1 < bytes)|a buffer one byte short is filled past its end
sdk-mono10p|sdk|sdk/src/convert.cpp|        dst[i + 1] = static_cast<unsigned char>((src[1] >> 4) \| (src[2] << 4));|        dst[i + 1] = static_cast<unsigned char>((src[1] >> 4) \| (src[2] << 3));|Mono10p's second pixel unpacked with a wrong shift
sdk-mono12p|sdk|sdk/src/convert.cpp|    for (; i + 2 <= pixels; i += 2, src += 3) {\n        dst[i] = static_cast<unsigned char>((src[0] >> 4) \| (src[1] << 4));\n        dst[i + 1] = src[2];|    for (; i + 2 <= pixels; i += 2, src += 3) {\n        dst[i] = static_cast<unsigned char>((src[0] >> 4) \| (src[1] << 4));\n        dst[i + 1] = src[1];|Mono12p's second pixel taken from the wrong byte
sdk-callorder|sdk|sdk/src/mvcameracontrol.cpp|    if (h->state == State::Created)\n        return MV_E_CALLORDER;\n    return noted(*h, body(*h));|    return noted(*h, body(*h));|a feature call on a camera not opened goes through
genicam-wrap|sdk|sdk/src/aravis/genicamrules.cpp|    return hidden < 0x8000 ? hidden : 0;|    return hidden <= 0x8000 ? hidden + 1 : 0;|frames missed across the block id's wrap counted one too many
conveyor-distance|sdk|sdk/src/sim/simconveyor.cpp|    return v0 * tau + 0.5 * accel * tau * tau;|    return v0 * tau + accel * tau * tau;|the simulated belt's distance under acceleration doubled
profile-row|setup|app/setuptools.cpp|const int row = int(std::floor(at.y()));|const int row = int(std::floor(at.y())) + 1;|a click in the live view profiles the line below it
lost-share|setup|camera/acquisitionhealth.cpp|figures.sent = m_received.load() + figures.lost;|figures.sent = m_received.load();|lost frames counted as a share of the delivered ones
histogram-first|setup|app/imagemeasures.cpp|[&](int, int, int s) {\n            ++count[s >> shift];|[\&](int x, int, int s) {\n            count[s >> shift] += x > 0;|the first pixel of every line left out of the histogram
one-to-one|setup|app/setuptools.cpp|    ui->gv->setTransform(QTransform());|    ui->gv->setTransform(QTransform::fromScale(1.01, 1.01));|1:1 zoom one per cent off
health-timing|setup|camera/acquisitionhealth.cpp|const double seconds = double(mark.arrivalNs - from.arrivalNs) / 1e9;|const double seconds = double(mark.timeNs - from.timeNs) / 1e9;|rates timed by the window's samples, not the frames' arrivals
EOF
)"

if [ "$list_only" -eq 0 ]; then
    command -v python3 >/dev/null || { echo "mutate.sh: python3 is needed" >&2; exit 1; }
    if [ ! -f "$build/build.ninja" ]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVISTA_WERROR=ON \
            -DCORVISTA_BUILD_BENCH=OFF >/dev/null
    fi
    echo "== baseline: build and run the suite without faults"
    ninja -C "$build" -j "$jobs" >/dev/null
    # A suite that fails without faults makes its catches worthless: say which.
    if ! ctest --test-dir "$build" -j "$jobs" >"$build/mutate-baseline.log" 2>&1; then
        echo "mutate.sh: without faults these fail already (their catches mean nothing):" \
            "$(sed -n '/The following tests FAILED/,$p' "$build/mutate-baseline.log" \
                | grep -oE '[0-9]+ - [A-Za-z_0-9]+' | sed 's/.* - //' | tr '\n' ' ')"
    fi
fi

# Replaces or restores one fault's text; prints "ok", "stale" or "restored".
apply() {
    python3 - "$@" <<'PY'
import sys
action, path, find, put = sys.argv[1:5]
find = find.replace('\\n', '\n').replace('\\|', '|').replace('\\&', '&')
put = put.replace('\\n', '\n').replace('\\|', '|').replace('\\&', '&')
text = open(path, encoding='utf-8').read()
if action == 'check':
    print('ok' if text.count(find) == 1 else 'stale')
elif action == 'apply':
    if text.count(find) != 1:
        print('stale')
    else:
        open(path + '.mutate-original', 'w', encoding='utf-8').write(text)
        open(path, 'w', encoding='utf-8').write(text.replace(find, put))
        print('ok')
PY
}

restore() {
    if [ -n "${current:-}" ] && [ -f "$current.mutate-original" ]; then
        mv -f "$current.mutate-original" "$current"
        # The copy is older than the objects built from the fault: without a
        # new time the build would keep the fault in.
        touch "$current"
    fi
    current=""
}
trap restore EXIT
trap 'restore; exit 130' INT TERM

caught=0 missed=0 stale=0 total=0
while IFS= read -r line; do
    [ -z "$line" ] && continue
    # Split on | not preceded by a backslash.
    mapfile -t field < <(python3 -c 'import re,sys; print("\n".join(re.split(r"(?<!\\)\|", sys.argv[1])))' "$line")
    id="${field[0]}" area="${field[1]}" file="$root/${field[2]}"
    find="${field[3]}" put="${field[4]}" what="${field[5]}"
    if [ -n "$only" ] && [[ ",$only," != *",$id,"* ]]; then
        continue
    fi
    total=$((total + 1))
    if [ "$list_only" -eq 1 ]; then
        printf '%-18s %-8s %-6s %s\n' "$id" "$area" "$(apply check "$file" "$find" "$put")" "$what"
        continue
    fi
    current="$file"
    if [ "$(apply apply "$file" "$find" "$put")" != "ok" ]; then
        current=""
        stale=$((stale + 1))
        printf '%-18s %-8s stale\n' "$id" "$area"
        continue
    fi
    if ! ninja -C "$build" -j "$jobs" >"$build/mutate-$id.log" 2>&1; then
        result="no build"
        caught=$((caught + 1))
    elif ctest --test-dir "$build" -j "$jobs" --stop-on-failure --output-on-failure >>"$build/mutate-$id.log" 2>&1; then
        result="MISSED"
        missed=$((missed + 1))
    else
        # ctest closes with "The following tests FAILED:" and one "N - name (why)" a line.
        failing="$(sed -n '/The following tests FAILED/,$p' "$build/mutate-$id.log" \
            | grep -oE '[0-9]+ - [A-Za-z_0-9]+' | sed 's/.* - //' | tr '\n' ' ')"
        result="caught by ${failing:-a test}"
        caught=$((caught + 1))
    fi
    restore
    printf '%-18s %-8s %s  (%s)\n' "$id" "$area" "$result" "$what"
done <<<"$faults"

if [ "$list_only" -eq 0 ]; then
    ninja -C "$build" -j "$jobs" >/dev/null || true
    echo "$caught caught, $missed missed, $stale stale of $total faults"
fi
