#!/usr/bin/env bash
# winpath against the commands people use for the same answers, measured in one sitting:
#   - `winpath windows` on 1,000 host paths in one call against one `winepath -w` call with the
#     same paths, Wine's server started first on a throwaway prefix;
#   - `winpath absolute` on 10,000 Windows paths in one call against Python's ntpath.abspath over
#     the same list in one process.
# The two sides of each comparison take turns, REPEAT times (default 7), and each side's best wall
# time counts, so that load from elsewhere weighs on both alike. Run by hand:
#   bench/winpath_speed.sh [WINPATH]
set -euo pipefail
cd "$(dirname "$0")/.."
winpath="$(realpath "${1:-build/default/winpath}")"
repeat="${REPEAT:-7}"
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
import ntpath, os, resource, subprocess, sys, time

winpath, repeat, work = sys.argv[1], int(sys.argv[2]), sys.argv[3]
os.chdir(work)

def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime

# Each side gives (wall seconds, CPU seconds, output). The CPU time of a command is its own and its
# children's, not wineserver's, which it started before: that counts against winpath, if at all.
def timed(command, stdin=None):
    cpu, start = children_cpu(), time.perf_counter()
    done = subprocess.run(command, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    seconds, cpu = time.perf_counter() - start, children_cpu() - cpu
    if done.returncode != 0:
        sys.exit(f"{command[0]} failed ({done.returncode}): {done.stderr.decode()[-500:]}")
    return seconds, cpu, done.stdout

def ntpath_loop(paths):
    cpu, start = time.process_time(), time.perf_counter()
    for p in paths:
        ntpath.abspath(p)
    return time.perf_counter() - start, time.process_time() - cpu, b""

def take_turns(*sides):
    """Runs each side once per round: the best wall and CPU times and the last output of each."""
    wall = [float("inf")] * len(sides)
    cpu = [float("inf")] * len(sides)
    outputs = [b""] * len(sides)
    for _ in range(repeat):
        for i, side in enumerate(sides):
            seconds, used, outputs[i] = side()
            wall[i], cpu[i] = min(wall[i], seconds), min(cpu[i], used)
    return wall, cpu, outputs

# 1,000 absolute host paths, short since Wine's command line holds 32,767 characters at most:
# folders that exist and names that do not, on z: and on drive c:, a tenth with '..' and a
# trailing '/'. (Wine takes a relative host path against the Windows form of its working folder,
# so that "../drive_c/x" from drive C's folder gives C:\drive_c\x; winpath takes it on the host.)
hosts = []
for i in range(1000):
    folder = f"{work}/p/drive_c/d{i % 25}" if i % 4 == 0 else f"{work}/t/d{i % 25}"
    os.makedirs(folder, exist_ok=True)
    hosts.append(f"{folder}/f{i}" if i % 10 else f"{folder}/s{i}/../x{i}/")
(ours, theirs), (ours_cpu, theirs_cpu), (out_ours, out_theirs) = take_turns(
    lambda: timed([winpath, "windows", *hosts]), lambda: timed(["winepath", "-w", *hosts]))
differ = sum(a != b for a, b in zip(out_ours.split(b"\n"), out_theirs.split(b"\n")))
print(f"windows, 1,000 host paths in one call (best of {repeat}):")
print(f"  winpath windows  {ours * 1e3:8.1f} ms  (CPU {ours_cpu * 1e3:6.1f} ms)")
print(f"  winepath -w      {theirs * 1e3:8.1f} ms  (CPU {theirs_cpu * 1e3:6.1f} ms)")
print(f"  winpath is {theirs / ours:.1f} times faster ({theirs_cpu / ours_cpu:.1f} in CPU time); "
      f"answers that differ: {differ}")

# 10,000 Windows paths: absolute, drive-relative and relative, with '.' and '..'.
shapes = ["c:\\zor\\d{0}\\..\\file{0}.txt", "c:\\zor\\.\\d{0}\\x\\", "d{0}\\file{0}",
          "c:d{0}\\y", "\\\\server\\share\\d{0}\\..\\z", "..\\d{0}\\file"]
windows = [shapes[i % len(shapes)].format(i) for i in range(10000)]
(ours, ours_stdin, python), (ours_cpu, ours_stdin_cpu, python_cpu), _ = take_turns(
    lambda: timed([winpath, "absolute", *windows]),
    lambda: timed([winpath, "absolute", "-"], stdin="\n".join(windows).encode()),
    lambda: ntpath_loop(windows))
per = lambda seconds: seconds / len(windows) * 1e6
print(f"absolute, 10,000 Windows paths (best of {repeat}; winpath's process start included):")
print(f"  winpath absolute PATH...  {per(ours):6.2f} us a path  (CPU {per(ours_cpu):6.2f})")
print(f"  winpath absolute -        {per(ours_stdin):6.2f} us a path  (CPU {per(ours_stdin_cpu):6.2f})")
print(f"  ntpath.abspath            {per(python):6.2f} us a path  (CPU {per(python_cpu):6.2f})")
print(f"  winpath is {python / ours:.1f} times faster ({python_cpu / ours_cpu:.1f} in CPU time); "
      f"from standard input {python / ours_stdin:.1f} ({python_cpu / ours_stdin_cpu:.1f})")
PY
