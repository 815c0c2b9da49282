#!/usr/bin/env bash
# Times the launcher end to end against two other self-extractors and the
# physical floor of this machine, and prints one table with the ratios.
#
#   bash bench/run.sh [--sizes "tiny 1 64 512"] [--runs N] [--dir DIR] [--keep]
#                     [--quiet LOAD]
#
# Sizes are MiB of random payload; "tiny" is a 4 KiB payload, timed against
# running the installer directly. Every command is timed by hyperfine (at
# least N runs, default 5, after a warm-up run, median reported); peak RSS
# comes from one more run under GNU time. Needs about 4 x the largest payload
# of disk in DIR (default build-bench/run). --quiet waits (up to 15 minutes)
# before each size until the 1-minute load average is at most LOAD.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
sizes="tiny 1 64 512"
runs=5
work=""
keep=0
quiet=""
while [ $# -gt 0 ]; do
    case "$1" in
        --sizes) sizes=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --dir) work=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        --quiet) quiet=$2; shift 2 ;;
        -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
[ "$runs" -ge 5 ] 2>/dev/null || { echo "run.sh: --runs must be 5 or more" >&2; exit 2; }
build=$root/build-bench
work=${work:-$build/run}

# The tools: installed the same idempotent way as scripts/setup.sh, but only
# here, since the test suite does not need them.
tools=(hyperfine makeself p7zip-full time coreutils openssl util-linux)
missing=()
for package in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "bench: installing ${missing[*]}" >&2
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
QV_SKIP_WINE=1 bash "$root/scripts/setup.sh"  # the native build only
sfx_stub=/usr/lib/p7zip/7zCon.sfx
[ -f "$sfx_stub" ] || { echo "bench: $sfx_stub is missing" >&2; exit 1; }

echo "bench: building the launcher and qvpack (Release) in $build" >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target quorvane_launcher qvpack >/dev/null
launcher=$(find "$build" -name quorvane_launcher -type f -perm -u+x | head -n1)
qvpack=$(find "$build" -name qvpack -type f -perm -u+x | head -n1)
[ -n "$launcher" ] && [ -n "$qvpack" ] || { echo "bench: build produced no launcher or qvpack" >&2; exit 1; }

mkdir -p "$work"
work=$(cd "$work" && pwd)
case "$work" in *[[:space:]]*) echo "bench: the folder must not contain blanks: $work" >&2; exit 2 ;; esac
log=$work/hyperfine.log
: >"$log"
results=$work/results.tsv  # size_label, payload bytes, tool, median s, peak KiB
: >"$results"

# The trivial installer for every tool: a copy of true(1).
installer_source=$(command -v true)
case "$installer_source" in /*) ;; *) installer_source=/bin/true ;; esac

cat >"$work/sfx_run.sh" <<'EOF'
#!/bin/sh
# 7zCon.sfx only extracts: extract to a fresh folder, run, remove it.
d=$(mktemp -d) || exit 1
"$1" -y -o"$d" >/dev/null || { rm -rf "$d"; exit 1; }
"$d/setup.exe"; rc=$?
rm -rf "$d"
exit $rc
EOF
cat >"$work/floor.sh" <<'EOF'
#!/bin/sh
# The floor: copy the payload, digest the copy, remove it.
cp "$1" "$2" && md5sum "$2" >/dev/null; rc=$?
rm -f "$2"
exit $rc
EOF

# The launcher's package: the installer and the payload as two files.
pack_words() {
    echo "$qvpack" build -o "$1" --stub "$launcher" --file installer32 setup.exe "$src/setup.exe" \
         --file payload payload.bin "$src/payload.bin" --value executable32 %installer32%
}
pack_command() { $(pack_words "$1"); }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
loads=""

for size in $sizes; do
    if [ "$size" = tiny ]; then bytes=4096; label="4 KiB"; else bytes=$((size * 1048576)); label="$size MiB"; fi
    dir=$work/$size
    src=$dir/src
    tmp=$dir/tmp
    mkdir -p "$src" "$dir/pkg"
    rm -rf "$tmp"; mkdir -p "$tmp/mutex"
    if [ "$(stat -c %s "$src/payload.bin" 2>/dev/null || echo -1)" != "$bytes" ]; then
        head -c "$bytes" /dev/urandom >"$src/payload.bin"
    fi
    cp "$installer_source" "$src/setup.exe"

    echo "bench: $label: packing" >&2
    pack_command "$dir/pkg/launcher.exe" >/dev/null
    (cd "$src" && makeself --nocomp --nocrc --quiet --tar-quietly . "$dir/pkg/makeself.run" "bench" ./setup.exe >/dev/null)
    rm -f "$dir/pkg/store.7z"
    (cd "$src" && 7z a -mx0 -bd -bso0 -bsp0 "$dir/pkg/store.7z" payload.bin setup.exe)
    cat "$sfx_stub" "$dir/pkg/store.7z" >"$dir/pkg/7zcon.sfx"
    chmod +x "$dir/pkg/7zcon.sfx"
    rm -f "$dir/pkg/store.7z"

    # name|command (split into words by hyperfine -N, run without a shell)
    commands=(
        "launcher|$dir/pkg/launcher.exe /s"
        "makeself|$dir/pkg/makeself.run --quiet --nox11 --noprogress"
        "7zCon.sfx|sh $work/sfx_run.sh $dir/pkg/7zcon.sfx"
    )
    if [ "$size" = tiny ]; then
        commands+=("installer alone|$src/setup.exe")
    else
        commands+=("cp + md5sum|sh $work/floor.sh $src/payload.bin $tmp/floor.bin"
                   "openssl md5|openssl md5 $src/payload.bin")
        # The same build as above, into a second file, timed as its own row.
        commands+=("qvpack build|$(pack_words "$dir/pkg/built.exe")")
    fi
    args=()
    for entry in "${commands[@]}"; do args+=(-n "${entry%%|*}" "${entry#*|}"); done

    if [ -n "$quiet" ]; then
        for _ in $(seq 90); do
            awk -v max="$quiet" '{ exit !($1 <= max) }' /proc/loadavg && break
            sleep 10
        done
    fi
    load=$(cut -d' ' -f1 /proc/loadavg)
    loads="$loads $label: $load,"
    echo "bench: $label: timing (load $load)" >&2
    TMPDIR=$tmp QV_MUTEX_DIR=$tmp/mutex hyperfine -N --style basic --warmup 1 --min-runs "$runs" \
        --export-csv "$dir/times.csv" "${args[@]}" >>"$log" 2>&1 \
        || { echo "bench: hyperfine failed at $label; see $log" >&2; tail -n 20 "$log" >&2; exit 1; }

    # Every tool must have cleaned up after itself: only the launcher's own
    # log files and the mutex folder may remain in its TMPDIR.
    leftover=$(find "$tmp" -mindepth 1 -maxdepth 1 ! -name mutex ! -name '*.log.txt' -print)
    [ -z "$leftover" ] || { echo "bench: left behind in $tmp: $leftover" >&2; exit 1; }

    for entry in "${commands[@]}"; do
        name=${entry%%|*}
        read -r -a words <<<"${entry#*|}"
        TMPDIR=$tmp QV_MUTEX_DIR=$tmp/mutex /usr/bin/time -f %M -o "$dir/rss" "${words[@]}" >/dev/null
        median=$(awk -F, -v n="$name" 'NR > 1 && $1 == n { print $4 }' "$dir/times.csv")
        printf '%s\t%s\t%s\t%s\t%s\n' "$label" "$bytes" "$name" "$median" "$(tail -n1 "$dir/rss")" >>"$results"
    done
    cache=$(fincore -n -o RES,SIZE -b "$dir/pkg/launcher.exe" | awk '{ p = $2 ? 100 * $1 / $2 : 100; printf "%d%%", (p > 100 ? 100 : p) }')
    echo "$label	$cache" >>"$work/cache.tsv.$$"
    rm -f "$dir/pkg/built.exe" "$tmp/floor.bin"
    [ "$keep" = 1 ] || rm -rf "$dir/pkg" "$tmp"
done

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

echo
echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) cores," \
     "$(free -g | awk '/^Mem:/ { print $2 }') GiB RAM, $(uname -sr), $(stat -f -c %T "$work") at $work"
# Freed memory handed back to a hypervisor makes every first touch of fresh
# memory slow and its cost erratic; the launcher's payload buffer is such
# memory, which cp + md5sum never need.
reporting=/sys/module/page_reporting/parameters
if [ -r "$reporting/reported_kib" ]; then
    echo "Memory: free page reporting to the host is on (order $(cat "$reporting/page_reporting_order")," \
         "$(($(cat "$reporting/reported_kib") / 1048576)) GiB reported so far): first touches of fresh memory are slow"
fi
echo "Load average (1, 5, 15 min): $load_before before, $load_after after; 1 min at the start of each size:${loads%,}"
echo "Page cache: warm (one warm-up run per command; launcher package resident after timing:" \
     "$(cut -f2 "$work/cache.tsv.$$" | paste -sd' ')); hyperfine runs >= $runs, medians"
rm -f "$work/cache.tsv.$$"
echo
awk -F'\t' '
function mib(b) { return b / 1048576 }
{
    size[NR] = $1; bytes[NR] = $2; tool[NR] = $3; med[NR] = $4; rss[NR] = $5
    t[$1, $3] = $4; r[$1, $3] = $5; b[$1] = $2
    if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 }
}
END {
    printf "%-8s  %-15s  %10s  %9s  %9s\n", "size", "tool", "median s", "MiB/s", "peak RSS"
    printf "%-8s  %-15s  %10s  %9s  %9s\n", "--------", "---------------", "----------", "---------", "---------"
    for (i = 1; i <= NR; i++) {
        rate = (bytes[i] >= 1048576) ? sprintf("%9.0f", mib(bytes[i]) / med[i]) : sprintf("%9s", "-")
        printf "%-8s  %-15s  %10.4f  %s  %6.1f MiB\n", size[i], tool[i], med[i], rate, rss[i] / 1024
    }
    printf "\nRatios (launcher / other; below 1 is faster):\n"
    fails = 0
    for (k = 1; k <= n; k++) {
        s = order[k]; L = t[s, "launcher"]
        line = sprintf("%-8s", s)
        if ((s, "cp + md5sum") in t) {
            q = L / t[s, "cp + md5sum"]; line = line sprintf("  floor %.2f", q)
            if (b[s] >= 64 * 1048576) { ok = q <= 1.10; fails += !ok; line = line (ok ? " (<= 1.10 met)" : " (<= 1.10 MISSED)") }
        }
        q = L / t[s, "makeself"]; ok = q <= 0.5; fails += !ok
        line = line sprintf("  makeself %.2f%s", q, ok ? " (<= 0.50 met)" : " (<= 0.50 MISSED)")
        q = L / t[s, "7zCon.sfx"]; line = line sprintf("  7zCon.sfx %.2f", q)
        if (b[s] <= 1048576) { ok = q < 1; fails += !ok; line = line (ok ? " (< 1 met)" : " (< 1 MISSED)") }
        if ((s, "installer alone") in t) {
            d = (L - t[s, "installer alone"]) * 1000; ok = d <= 3; fails += !ok
            line = line sprintf("  start-up cost %.2f ms%s", d, ok ? " (<= 3 met)" : " (<= 3 MISSED)")
        }
        limit = (b[s] + 16 * 1048576) / 1024; ok = r[s, "launcher"] <= limit; fails += !ok
        line = line sprintf("  RSS %.1f MiB%s", r[s, "launcher"] / 1024, ok ? " (<= payload + 16 met)" : " (<= payload + 16 MISSED)")
        print line
    }
    printf "\nTargets missed: %d\n", fails
}' "$results"
echo
echo "hyperfine output: $log"
