#!/usr/bin/env bash
# winpath against the commands people use for the same answers, measured in one sitting:
#   - `winpath windows` on 10,000 host paths in one call against `winepath -w` on the same paths,
#     and `winpath host` on their Windows paths against `winepath -u`, Wine's server started first
#     on a throwaway prefix. winepath takes no more paths a call than Windows's command line holds
#     (32,767 characters; past it, it exits 1 with no output), so xargs -s 30000 batches them, as
#     a script must. The answers must be identical, or the run fails;
#   - `winpath absolute` on 10,000 Windows paths in one call against Python's ntpath.abspath over
#     the same list in one process.
# The two sides of each comparison take turns, REPEAT times (default 3), and each side's best wall
# time counts, so that load from elsewhere weighs on both alike. Run by hand:
#   bench/winpath_speed.sh [WINPATH]
set -euo pipefail
cd "$(dirname "$0")/.."
winpath="$(realpath "${1:-build/default/winpath}")"
repeat="${REPEAT:-3}"
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

# 10,000 absolute host paths: 5,000 files that exist and 4,000 names that do not (a tenth of them
# in a folder that does not exist either) on drive C, and 1,000 files on Z:. (Wine takes a relative
# host path against the Windows form of its working folder, so that "../drive_c/x" from drive C's
# folder gives C:\drive_c\x; winpath takes it on the host: only absolute paths are compared.)
hosts = []
for i in range(10000):
    kind = i % 10
    folder = f"{work}/t/d{i % 50}" if kind == 0 else f"{work}/p/drive_c/d{i % 50}"
    os.makedirs(folder, exist_ok=True)
    if kind <= 5:
        hosts.append(f"{folder}/f{i}")
        open(hosts[-1], "w").close()
    else:
        hosts.append(f"{folder}/m{i}" if i % 100 != 99 else f"{folder}/n{i}/m{i}")

def batched(*command):
    """winepath on as many paths a call as Windows's command line holds, as xargs -s 30000 makes
    the calls."""
    return ["xargs", "-d", "\\n", "-s", "30000", *command]

def compare(title, ours_command, theirs_command, paths, same=lambda line: line):
    listed = "\n".join(paths).encode()
    (ours, theirs), (ours_cpu, theirs_cpu), (out_ours, out_theirs) = take_turns(
        lambda: timed(ours_command + paths), lambda: timed(theirs_command, stdin=listed))
    got, expected = out_ours.decode().splitlines(), [same(l) for l in out_theirs.decode().splitlines()]
    differ = [(p, a, b) for p, a, b in zip(paths, got, expected) if a != b]
    print(f"{title} (best of {repeat}):")
    print(f"  winpath  {ours * 1e3:8.1f} ms  (CPU {ours_cpu * 1e3:7.1f} ms)")
    print(f"  winepath {theirs * 1e3:8.1f} ms  (CPU {theirs_cpu * 1e3:7.1f} ms)")
    print(f"  winpath is {theirs / ours:.1f} times faster ({theirs_cpu / ours_cpu:.1f} in CPU time)")
    if len(got) != len(paths) or len(expected) != len(paths) or differ:
        for p, a, b in differ[:5]:
            print(f"  {p}: winpath {a}, winepath {b}")
        sys.exit(f"{title}: {len(got)} and {len(expected)} answers for {len(paths)} paths, "
                 f"{len(differ)} that differ")
    return got

windows = compare("windows / winepath -w, 10,000 host paths", [winpath, "windows"],
                  batched("winepath", "-w"), hosts)
# winepath -u names what it finds through dosdevices (<prefix>/dosdevices/c:/d1), winpath host
# through the drive's folder (<prefix>/drive_c/d1): the same file, and the same text once the
# links of dosdevices are read. Every seventh path is asked in capitals, to be found in its case.
links = {f"{work}/p/dosdevices/{d}": os.path.realpath(f"{work}/p/dosdevices/{d}")
         for d in os.listdir(f"{work}/p/dosdevices") if d.endswith(":")}
def through_folder(line):
    for link, folder in links.items():
        if line.startswith(link + "/"):
            return (folder.rstrip("/") + line[len(link):]).replace("//", "/")
    return line
asked = [w.upper() if i % 7 == 0 else w for i, w in enumerate(windows)]
compare("host / winepath -u, their 10,000 Windows paths", [winpath, "host"],
        batched("winepath", "-u"), asked, through_folder)

# 10,000 Windows paths: absolute, drive-relative and relative, with '.' and '..'.
shapes = ["c:\\zor\\d{0}\\..\\file{0}.txt", "c:\\zor\\.\\d{0}\\x\\", "d{0}\\file{0}",
          "c:d{0}\\y", "\\\\server\\share\\d{0}\\..\\z", "..\\d{0}\\file"]
inputs = [shapes[i % len(shapes)].format(i) for i in range(10000)]
(ours, ours_stdin, python), (ours_cpu, ours_stdin_cpu, python_cpu), _ = take_turns(
    lambda: timed([winpath, "absolute", *inputs]),
    lambda: timed([winpath, "absolute", "-"], stdin="\n".join(inputs).encode()),
    lambda: ntpath_loop(inputs))
per = lambda seconds: seconds / len(inputs) * 1e6
print(f"absolute, 10,000 Windows paths (best of {repeat}; winpath's process start included):")
print(f"  winpath absolute PATH...  {per(ours):6.2f} us a path  (CPU {per(ours_cpu):6.2f})")
print(f"  winpath absolute -        {per(ours_stdin):6.2f} us a path  (CPU {per(ours_stdin_cpu):6.2f})")
print(f"  ntpath.abspath            {per(python):6.2f} us a path  (CPU {per(python_cpu):6.2f})")
print(f"  winpath is {python / ours:.1f} times faster ({python_cpu / ours_cpu:.1f} in CPU time); "
      f"from standard input {python / ours_stdin:.1f} ({python_cpu / ours_stdin_cpu:.1f})")
PY
