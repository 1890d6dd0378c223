#!/bin/bash
# The download benchmark in one command:
#
#   bench/run_bench.sh
#
# Cross-builds qx_download_bench.exe into its own build folder, serves a
# 256 MiB file and 500 small files from nginx on 127.0.0.1, runs the Windows
# benchmark under Wine and, in the same run, curl natively on the same files,
# checks that the system's URL cache in the Wine prefix kept no copy of the
# big file, and prints one table.
#
# QX_BUILD_DIR   build folder and Wine prefix (default <repo>/build/bench-win)
# QX_BENCH_REPS  runs of each contender (default 3; the median is reported)
# QX_BENCH_MIB   size of the big file in MiB (default 256)
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export QX_BUILD_DIR="${QX_BUILD_DIR:-$repo/build/bench-win}"
reps="${QX_BENCH_REPS:-3}"
mib="${QX_BENCH_MIB:-256}"
count=500

if [ "${1:-}" != --with-servers ]; then
  mkdir -p "$QX_BUILD_DIR"
  echo "== building qx_download_bench in $QX_BUILD_DIR" >&2
  timeout 900 cmake -S "$repo" -B "$QX_BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >"$QX_BUILD_DIR/bench-configure.log" 2>&1 ||
    { cat "$QX_BUILD_DIR/bench-configure.log" >&2; exit 1; }
  timeout 900 cmake --build "$QX_BUILD_DIR" -j2 --target qx_download_bench >"$QX_BUILD_DIR/bench-build.log" 2>&1 ||
    { tail -40 "$QX_BUILD_DIR/bench-build.log" >&2; exit 1; }
  echo "== preparing the Wine prefix" >&2
  timeout 600 bash "$repo/scripts/wine-prefix.sh" up
  status=0
  timeout 900 python3 "$repo/tests/servers/servers.py" bash "${BASH_SOURCE[0]}" --with-servers || status=$?
  timeout 120 bash "$repo/scripts/wine-prefix.sh" down || true
  exit "$status"
fi

# --- From here on nginx runs (QX_NGINX_PORT, QX_WWW_ROOT, QX_NGINX_ACCESS_LOG).
# shellcheck source=../scripts/wine-env.sh
source "$repo/scripts/wine-env.sh"
exe="$QX_BUILD_DIR/qx_download_bench.exe"
www="$QX_WWW_ROOT/bench"
base="http://127.0.0.1:$QX_NGINX_PORT"
work="$(mktemp -d /tmp/qxbench.XXXXXX)"
trap 'rm -rf "$work"' EXIT
size=$((mib * 1048576))

echo "== making the files" >&2
mkdir -p "$www/small"
head -c "$size" /dev/urandom >"$www/big.bin"
# One name per contender for the same bytes, so that a copy left in the
# system's cache can be told apart.
ln "$www/big.bin" "$www/big-bare.bin"
python3 - "$www/small" "$count" <<'EOF'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    path = os.path.join(folder, "f%03d.txt" % i)
    with open(path, "wb") as f:
        f.write((("line %d of file %d\r\n" % (i, i)) * (1 + i % 40)).encode())
    # A whole second, as Last-Modified carries it.
    os.utime(path, (1700000000 + i, 1700000000 + i))
EOF
echo warm >"$www/warm.txt"
chmod -R a+rX "$www"
# The unchanged copies the engine compares with: same size, same time.
local_small="$QX_PREFIX/drive_c/qxbench/small"
rm -rf "$QX_PREFIX/drive_c/qxbench"
mkdir -p "$local_small"
cp -p "$www"/small/f*.txt "$local_small/"

# The URL cache lives in the profile of the prefix's user. It starts
# empty on every run, so that one run's leftovers neither slow nor count in
# the next.
profile="$QX_PREFIX/drive_c/users"
find "$profile" -type d \( -name INetCache -o -name 'Temporary Internet Files' \) -prune -exec rm -rf {} + 2>/dev/null || true
big_in_cache() { find "$profile" -type f -size +$((size / 1024 - 1))k 2>/dev/null | sort; }
before="$(big_in_cache)"
cache_files_before=$(find "$profile" -type f -path '*Temporary Internet Files*' -o -type f -path '*INetCache*' 2>/dev/null | wc -l)

echo "== Windows benchmark under Wine ($reps runs each)" >&2
reference="Z:$(echo "$www/big.bin" | tr / '\\')"
set +e
timeout 600 bash "$repo/scripts/wine-run.sh" "$exe" --base "$base" \
  --big-engine /bench/big.bin --big-bare /bench/big-bare.bin \
  --size "$size" --reference "$reference" --small-dir /bench/small/ --count "$count" --reps "$reps" --warm-up /bench/warm.txt \
  </dev/null | tee "$work/wine.out" >&2
wine_status=${PIPESTATUS[0]}
set -e

echo "== curl, natively ($reps runs each)" >&2
urls=()
for i in $(seq 0 $((count - 1))); do urls+=("$base/bench/small/$(printf 'f%03d.txt' "$i")"); done
for rep in $(seq 1 "$reps"); do
  /usr/bin/time -f "CURL big seconds=%e maxrss_kib=%M" -a -o "$work/curl.out" \
    curl -sS -o "$work/curl-big.bin" "$base/bench/big.bin"
  cmp -s "$work/curl-big.bin" "$www/big.bin" || echo "CURL big content differs" >>"$work/curl.out"
  rm -f "$work/curl-big.bin"
  # One curl for all the files: it sends one HEAD each, on one connection.
  /usr/bin/time -f "CURL heads seconds=%e maxrss_kib=%M" -a -o "$work/curl.out" \
    curl -sS -I "${urls[@]}" >"$work/curl-heads.txt"
  ok=$(grep -c '^HTTP/1.1 200' "$work/curl-heads.txt" || true)
  echo "CURL heads answered=$ok" >>"$work/curl.out"
done
cat "$work/curl.out" >&2

after="$(big_in_cache)"
left="$(comm -13 <(echo "$before") <(echo "$after") | sed '/^$/d')"
cache_files_after=$(find "$profile" -type f -path '*Temporary Internet Files*' -o -type f -path '*INetCache*' 2>/dev/null | wc -l)
small_gets=$(grep -c '^GET /bench/small/' "$QX_NGINX_ACCESS_LOG" || true)
small_heads=$(grep -c '^HEAD /bench/small/' "$QX_NGINX_ACCESS_LOG" || true)

python3 - "$work/wine.out" "$work/curl.out" "$size" "$count" "$reps" "$wine_status" \
  "$small_gets" "$small_heads" "$cache_files_before" "$cache_files_after" "$left" <<'EOF'
import re, statistics, sys
wine_out, curl_out, size, count, reps, wine_status = sys.argv[1:7]
small_gets, small_heads, cache_before, cache_after, left = sys.argv[7:12]
size, count, reps = int(size), int(count), int(reps)
MiB = 1048576.0
runs = {}
failed = []
for line in open(wine_out, errors="replace"):
    m = re.match(r"RESULT (\S+) rep=\d+ seconds=([\d.]+) bytes=(-?\d+) done=(\d+)/(\d+) "
                 r"cold=(\d+) idle=(\d+) peak=(\d+)(.*)", line)
    if not m:
        continue
    phase = m.group(1)
    # (seconds, cold, warm idle, peak)
    runs.setdefault(phase, []).append((float(m.group(2)), int(m.group(6)), int(m.group(7)), int(m.group(8))))
    if m.group(4) != m.group(5):
        failed.append(line.strip())
curl = {"big": [], "heads": []}
answered = []
for line in open(curl_out):
    m = re.match(r"CURL (big|heads) seconds=([\d.]+) maxrss_kib=(\d+)", line)
    if m:
        curl[m.group(1)].append((float(m.group(2)), int(m.group(3)) * 1024))
    m = re.match(r"CURL heads answered=(\d+)", line)
    if m:
        answered.append(int(m.group(1)))
    if "differs" in line:
        failed.append(line.strip())
if any(a != count for a in answered):
    failed.append("curl -I: %s answers of %d" % (answered, count))

def row(name, samples, big, idle=True):
    if not samples:
        print("%-40s %s" % (name, "no result"))
        return None
    t = statistics.median(s[0] for s in samples)
    rate = ("%8.1f MiB/s" % (size / MiB / t)) if big else ("%8.0f HEAD/s" % (count / t))
    peak = max(s[-1] for s in samples) / MiB
    if idle:
        above = "%10.2f %10.2f" % (max((s[3] - s[2]) / MiB for s in samples),
                                   max((s[3] - s[1]) / MiB for s in samples))
    else:
        above = "%10s %10s" % ("-", "-")
    print("%-40s %8.3f %15s %9.1f %s" % (name, t, rate, peak, above))
    return t

def ratio(a, b):
    return a / b if a and b else float("nan")

print()
print("Download benchmark: %d MiB file, %d unchanged files, median of %d runs" % (size // 1048576, count, reps))
print("%-40s %8s %15s %9s %10s %10s" % ("", "seconds", "throughput", "peak MiB", "above idle", "above cold"))
big = "%d MiB" % (size // 1048576)
e_big = row("DownloadFile, %s (Wine)" % big, runs.get("engine-big"), True)
b_big = row("bare WinINet loop, %s (Wine)" % big, runs.get("bare-big"), True)
k_big = row("curl, %s (native)" % big, curl["big"], True, idle=False)
e_h = row("DownloadFile unchanged x%d (Wine)" % count, runs.get("engine-heads"), False)
b_h = row("bare WinINet HEAD x%d (Wine)" % count, runs.get("bare-heads"), False)
k_h = row("curl -I x%d, one process (native)" % count, curl["heads"], False, idle=False)
def above(phase, base):
    return max(((s[3] - s[base]) / MiB for s in runs.get(phase, [])), default=float("nan"))
engine_above = above("engine-big", 2)
bare_above = above("bare-big", 2)
heads_above = above("engine-heads", 2)

def verdict(ok):
    return "met" if ok else "MISSED"

r1, r2 = ratio(e_big, b_big), ratio(e_h, b_h)
print()
print("engine / bare WinINet loop (%-7s)   %6.2f   target <= 1.2    %s" % (big, r1, verdict(r1 <= 1.2)))
print("engine / curl (%-7s)                %6.2f" % (big, ratio(e_big, k_big)))
print("unchanged check / bare HEAD loop      %6.2f   target <= 1.2    %s" % (r2, verdict(r2 <= 1.2)))
print("unchanged check / curl -I             %6.2f" % ratio(e_h, k_h))
print("engine peak above idle (%-7s)       %6.2f MiB   target <= 1.5   %s" % (big, engine_above,
                                                                          verdict(engine_above <= 1.5)))
print("  bare loop, for comparison           %6.2f MiB" % bare_above)
print("  engine, above the cold idle size    %6.2f MiB" % above("engine-big", 1))
print("engine peak above idle (%d checks)   %6.2f MiB" % (count, heads_above))
print("GETs of unchanged files at nginx      %6s   (must be 0; HEADs seen: %s)" % (small_gets, small_heads))
print("files in the URL cache                %6s before, %s after" % (cache_before, cache_after))
leftover = [l for l in left.splitlines() if l.strip()]
print("copies of the big file left in cache  %6d   %s" % (len(leftover), verdict(not leftover)))
for l in leftover:
    print("    " + l)
if wine_status != "0" or failed or small_gets != "0":
    print("\nSOME RUNS FAILED (Wine exit status %s):" % wine_status)
    for f in failed:
        print("    " + f)
    sys.exit(1)
EOF
