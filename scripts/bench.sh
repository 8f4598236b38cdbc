#!/usr/bin/env bash
# ./vellaro bench [IN.png]: both DLLs' GetPicture against the bare imaging path of the same
# picture (vellaro-host bench), then the row loop alone (vellaro-rowloop-bench). Without a
# picture it runs the standard set, generated once with the platform's PNG encoder into
# build/bench-pictures, and writes the table to build/bench.txt as well.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
cd "$VELLARO_ROOT"

# Runs per picture (each run times both paths once, interleaved).
LARGE_RUNS=${VELLARO_BENCH_RUNS:-9}
ICON_RUNS=${VELLARO_BENCH_ICON_RUNS:-5}
PICTURES=build/bench-pictures

ensure_packages
build_preset win32 vellaro vellaro-host vellaro-bench-pictures vellaro-rowloop-bench >/dev/null
build_preset win64 vellaro vellaro-host vellaro-rowloop-bench >/dev/null
ensure_prefix
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

win32=$(build_dir win32)
win64=$(build_dir win64)
# The plug-in's transparency setting as the last run read it.
alpha_file=$(mktemp)
trap 'rm -f "$alpha_file"' EXIT

# The value of `key: value` in a host's output (its lines end in CR LF).
value() {
    tr -d '\r' <<<"$2" | awk -v key="$1" -F': ' '$1 == key { print $2; exit }'
}

# bench_rows LABEL PICTURE RUNS TARGET PER_CALL: one table row per DLL. PER_CALL divides the
# times by the number of pictures (the icons' cost per call).
bench_rows() {
    local label=$1 picture=$2 runs=$3 target=$4 perCall=$5 dir dll out
    for pair in "$win32 Vellaro.spi" "$win64 Vellaro.sph"; do
        read -r dir dll <<<"$pair"
        out=$(wine "$dir/vellaro-host.exe" bench "$(windows_path "$dir/$dll")" "$(windows_path "$picture")" \
            --runs "$runs")
        value alpha "$out" >"$alpha_file"
        awk -v label="$label" -v dll="$dll" -v target="$target" -v perCall="$perCall" \
            -v n="$(value pictures "$out")" \
            -v bmed="$(value baseline.median_ms "$out")" -v bmin="$(value baseline.min_ms "$out")" \
            -v bmax="$(value baseline.max_ms "$out")" -v pmed="$(value plugin.median_ms "$out")" \
            -v pmin="$(value plugin.min_ms "$out")" -v pmax="$(value plugin.max_ms "$out")" \
            -v ratio="$(value ratio "$out")" -v bpeak="$(value baseline.peak_mb "$out")" \
            -v ppeak="$(value plugin.peak_mb "$out")" -v dib="$(value dib_mb "$out")" \
            -v rgba="$(value rgba_mb "$out")" '
            BEGIN {
                d = perCall == "yes" ? n : 1
                limit = bpeak + 1.1 * rgba
                printf "| %s | %s | %.2f (%.2f-%.2f) | %.2f (%.2f-%.2f) | %.3f | %s | %.1f | %.1f (%.1f) | %.1f |\n",
                    label, dll, bmed / d, bmin / d, bmax / d, pmed / d, pmin / d, pmax / d, ratio, target,
                    bpeak, ppeak, limit, dib
            }'
    done
}

table_head() {
    echo "| Picture | DLL | bare path ms (min-max) | GetPicture ms (min-max) | ratio | target | bare MB | GetPicture MB (limit) | DIB MB |"
    echo "|---|---|---|---|---|---|---|---|---|"
}

rowloop_table() {
    local dir build out
    echo "| Row loop, 4096 x 4096 x 32 bits | flip in order ms (GB/s, x memcpy) | composite in order ms (GB/s) | flip + composite in order ms | on the team ms | speedup |"
    echo "|---|---|---|---|---|---|"
    for pair in "$win32 32-bit" "$win64 64-bit"; do
        read -r dir build <<<"$pair"
        out=$(wine "$dir/vellaro-rowloop-bench.exe" --runs 15)
        printf '| %s | %s (%s, %s) | %s (%s) | %s (%s) | %s (%s) | %s |\n' "$build" \
            "$(value flip.inorder.median_ms "$out")" "$(value flip.inorder.gbps "$out")" \
            "$(value flip.vs_memcpy "$out")" "$(value composite.inorder.median_ms "$out")" \
            "$(value composite.inorder.gbps "$out")" "$(value rowloop.inorder.median_ms "$out")" \
            "$(value rowloop.inorder.spread_ms "$out")" "$(value rowloop.team.median_ms "$out")" \
            "$(value rowloop.team.spread_ms "$out")" "$(value rowloop.speedup "$out")"
    done
}

ensure_pictures() {
    [ -f "$PICTURES/.complete" ] && return 0
    echo "bench: writing the standard pictures to $PICTURES (once)" >&2
    rm -rf "$PICTURES"
    mkdir -p "$PICTURES"
    wine "$win32/vellaro-bench-pictures.exe" "$(windows_path "$PICTURES")"
    touch "$PICTURES/.complete"
}

if [ $# -eq 1 ]; then
    table_head
    bench_rows "$(basename "$1")" "$1" "$LARGE_RUNS" "-" no
    echo "Transparency: $(cat "$alpha_file")."
    exit 0
fi

ensure_pictures
{
    table_head
    bench_rows "4096 x 4096 RGBA, varied alpha" "$PICTURES/rgba-4096.png" "$LARGE_RUNS" "1.10" no
    bench_rows "4096 x 4096 RGB, opaque" "$PICTURES/rgb-4096.png" "$LARGE_RUNS" "1.05" no
    bench_rows "4096 x 4096 8-bit palette" "$PICTURES/palette-4096.png" "$LARGE_RUNS" "1.05" no
    bench_rows "32 x 32 RGBA icon (1,000, per call)" "$PICTURES/icons" "$ICON_RUNS" "1.20" yes
    echo
    echo "Transparency: $(cat "$alpha_file"); $(nproc) cores; medians of $LARGE_RUNS interleaved runs ($ICON_RUNS for the icons)."
    echo
    rowloop_table
} | tee build/bench.txt.partial
mv build/bench.txt.partial build/bench.txt
echo "Wrote build/bench.txt"
