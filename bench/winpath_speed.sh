#!/usr/bin/env bash
# winpath against the commands people use for the same answers, measured in one sitting:
#   - `winpath windows` on 1,000 host paths in one call against one `winepath -w` call with the
#     same paths, Wine's server started first on a throwaway prefix;
#   - `winpath absolute` on 10,000 Windows paths in one call against Python's ntpath.abspath over
#     the same list in one process.
# Each is the best of REPEAT runs (default 5). Run by hand: bench/winpath_speed.sh [WINPATH]
set -euo pipefail
cd "$(dirname "$0")/.."
winpath="$(realpath "${1:-build/default/winpath}")"
repeat="${REPEAT:-5}"
[ -x "$winpath" ] || { echo "no $winpath: cmake --build build/default --target winpath" >&2; exit 2; }
command -v winepath >/dev/null || { echo "winepath is not installed" >&2; exit 2; }

work="$(mktemp -d /tmp/wps.XXXXXX)"
export WINEPREFIX="$work/p" WINEDEBUG=-all
cleanup() { wineserver -k 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

echo "making the prefix (about 20 s the first time) ..." >&2
mkdir -p "$WINEPREFIX"
wineserver -p
winepath -w / >/dev/null 2>&1

python3 - "$winpath" "$repeat" "$work" <<'PY'
import ntpath, os, subprocess, sys, time

winpath, repeat, work = sys.argv[1], int(sys.argv[2]), sys.argv[3]
os.chdir(work)

def best(command, stdin=None):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        done = subprocess.run(command, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        times.append(time.perf_counter() - start)
        if done.returncode != 0:
            sys.exit(f"{command[0]} failed ({done.returncode}): {done.stderr.decode()[-500:]}")
    return min(times), done.stdout

# 1,000 absolute host paths, short since Wine's command line holds 32,767 characters at most:
# folders that exist and names that do not, on z: and on drive c:, a tenth with '..' and a
# trailing '/'. (Wine takes a relative host path against the Windows form of its working folder,
# so that "../drive_c/x" from drive C's folder gives C:\drive_c\x; winpath takes it on the host.)
hosts = []
for i in range(1000):
    folder = f"{work}/p/drive_c/d{i % 25}" if i % 4 == 0 else f"{work}/t/d{i % 25}"
    os.makedirs(folder, exist_ok=True)
    hosts.append(f"{folder}/f{i}" if i % 10 else f"{folder}/s{i}/../x{i}/")
ours, out_ours = best([winpath, "windows", *hosts])
theirs, out_theirs = best(["winepath", "-w", *hosts])
differ = sum(a != b for a, b in zip(out_ours.split(b"\n"), out_theirs.split(b"\n")))
print(f"windows, 1,000 host paths in one call (best of {repeat}):")
print(f"  winpath windows  {ours * 1e3:8.1f} ms")
print(f"  winepath -w      {theirs * 1e3:8.1f} ms")
print(f"  winpath is {theirs / ours:.1f} times faster; answers that differ: {differ}")

# 10,000 Windows paths: absolute, drive-relative and relative, with '.' and '..'.
shapes = ["c:\\zor\\d{0}\\..\\file{0}.txt", "c:\\zor\\.\\d{0}\\x\\", "d{0}\\file{0}",
          "c:d{0}\\y", "\\\\server\\share\\d{0}\\..\\z", "..\\d{0}\\file"]
windows = [shapes[i % len(shapes)].format(i) for i in range(10000)]
ours, _ = best([winpath, "absolute", *windows])
ours_stdin, _ = best([winpath, "absolute", "-"], stdin="\n".join(windows).encode())
python = []
for _ in range(repeat):
    start = time.perf_counter()
    for p in windows:
        ntpath.abspath(p)
    python.append(time.perf_counter() - start)
python = min(python)
per = lambda seconds: seconds / len(windows) * 1e6
print(f"absolute, 10,000 Windows paths (best of {repeat}; winpath's process start included):")
print(f"  winpath absolute PATH...  {per(ours):6.2f} us a path")
print(f"  winpath absolute -        {per(ours_stdin):6.2f} us a path")
print(f"  ntpath.abspath            {per(python):6.2f} us a path")
print(f"  winpath is {python / ours:.1f} times faster (from standard input {python / ours_stdin:.1f})")
PY
