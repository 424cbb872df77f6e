#!/usr/bin/env python3
"""Times our self-extractor against Info-ZIP unzip and bsdtar on one payload,
against the floor of inflating it in memory, and against the floor of
writing its files durably (temporaries, batched flushes, renames, directory
flushes) without inflating; optionally a whole installation under Wine.
Prints figures; it is not a test.

The payload (bench/make_payload.cpp) is generated and zipped once into
build/bench and reused while the generator stays the same. Every run unpacks
into a fresh folder, the tools take turns, and the median is reported.
When this user may drop the page cache, every run is timed twice over:
cold (cache dropped before each run) and warm (archive already in memory).
"""

import argparse
import contextlib
import fcntl
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BENCH = ROOT / "build" / "bench"
HOST_BIN = ROOT / "build" / "host" / "bin"
WIN_BIN = ROOT / "build" / "windows" / "bin"
TIME = "/usr/bin/time"

GOAL_UNZIP = 0.6     # our time at most this share of unzip's
GOAL_BSDTAR = 1.0    # ... and no slower than bsdtar
GOAL_FLOOR = 1.15    # ... within this factor of the larger floor: inflating, or writing durably
GOAL_MEMORY = 32     # MiB, peak resident, whatever the payload


def say(text=""):
    print(text, flush=True)


def run_checked(cmd, **kw):
    subprocess.run(cmd, check=True, **kw)


def build_host(targets):
    # Configured every time: a build folder made before bench/ existed knows
    # nothing of its targets.
    run_checked(["cmake", "--preset", "host"], cwd=ROOT, stdout=subprocess.DEVNULL)
    run_checked(["cmake", "--build", "--preset", "host", "--target", *targets], cwd=ROOT,
                stdout=subprocess.DEVNULL)


def file_digest(path: Path) -> str:
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(1 << 20):
            h.update(chunk)
    return h.hexdigest()


def tree_signature(root: Path):
    """Folders, and files with their size and SHA-256, by relative name."""
    sig = {}
    for dirpath, dirnames, filenames in os.walk(root):
        rel = Path(dirpath).relative_to(root)
        for d in dirnames:
            sig[(rel / d).as_posix() + "/"] = None
        for f in filenames:
            p = Path(dirpath) / f
            sig[(rel / f).as_posix()] = (p.stat().st_size, file_digest(p))
    return sig


def describe_difference(want, got) -> str:
    missing = sorted(set(want) - set(got))
    extra = sorted(set(got) - set(want))
    differ = sorted(k for k in set(want) & set(got) if want[k] != got[k])
    parts = []
    for label, names in (("missing", missing), ("unexpected", extra), ("different", differ)):
        if names:
            parts.append(f"{len(names)} {label} (first: {names[0]})")
    return "; ".join(parts) or "identical"


def make_payload(scale: float) -> Path:
    """The zipped payload, made once for each generator and scale."""
    suffix = "" if scale == 1 else f"-x{scale:g}"
    tree = BENCH / f"payload{suffix}"
    archive = BENCH / f"payload{suffix}.zip"
    stamp = BENCH / f"payload{suffix}.stamp"
    generator = HOST_BIN / "make-payload"
    want = f"{file_digest(generator)} {scale!r}\n"
    if archive.exists() and tree.exists() and stamp.exists() and stamp.read_text() == want:
        return archive
    say(f"bench: generating the payload into {tree.relative_to(ROOT)}")
    delete_trees(tree)
    archive.unlink(missing_ok=True)
    BENCH.mkdir(parents=True, exist_ok=True)
    run_checked([str(generator), str(tree), repr(scale)], stdout=subprocess.DEVNULL)
    part = archive.with_suffix(".zip.part")
    part.unlink(missing_ok=True)
    # Info-ZIP zip, deflate at its default level, as a release would be packed.
    run_checked(["zip", "-q", "-r", str(part), "."], cwd=tree)
    part.rename(archive)
    stamp.write_text(want)
    return archive


# ext4 without a journal (as here) will not hand out an inode freed in the
# last minute, or six while the inode table block holding it is dirty, and
# scans past each such inode for every file it creates. Dropping the page
# cache or syncing does not help: the first file created in a table block
# reads it back and dirties it again. Deleting trees of 4,000 files and
# timing a run soon after measures that scan, not the tool (twice the time,
# all of it in the kernel). So every tree is kept until the end, and a run
# starts no sooner than six minutes after the last one deleted its trees.
QUIET_AFTER_DELETE = 361


def delete_trees(path: Path):
    if path.exists():
        shutil.rmtree(path)
        os.sync()
        (BENCH / ".deleted").write_text(f"{time.time()}\n")


def wait_after_deletions(enabled: bool):
    if not enabled:
        return
    try:
        since = time.time() - float((BENCH / ".deleted").read_text())
    except (OSError, ValueError):
        return
    if since < QUIET_AFTER_DELETE:
        left = QUIET_AFTER_DELETE - since
        say(f"bench: waiting {left:.0f} s for ext4 to settle after deleting the last trees "
            "(--no-wait skips it, at the price of slower, noisier figures)")
        time.sleep(left)


def filesystem_of(path: Path) -> str:
    """The type of the file system that holds path, from /proc/mounts."""
    path = path.resolve()
    best, kind = "", "?"
    with open("/proc/mounts") as f:
        for line in f:
            fields = line.split()
            mount = fields[1].replace("\\040", " ")
            if (str(path) == mount or str(path).startswith(mount.rstrip("/") + "/")) and \
                    len(mount) > len(best):
                best, kind = mount, fields[2]
    return kind


class FreshFilesystem:
    """A new ext4 file system, journal and all, in an image file under
    build/bench, mounted for one run of this script: every tool then starts
    from the same empty disk, out of reach of whatever else on the machine
    has just deleted files, and of this machine's own journal-less ext4."""

    def __init__(self, size_gib: int):
        self.image = BENCH / "fs.img"
        self.mount = BENCH / "mnt"
        self.size = size_gib << 30

    def __enter__(self) -> Path:
        self._unmount()  # left over from an interrupted run
        try:
            self.image.unlink(missing_ok=True)
            with open(self.image, "wb") as f:
                f.truncate(self.size)
            # Inode tables and journal written now, not by a kernel thread in
            # the middle of the timings.
            run_checked(["mkfs.ext4", "-q", "-F", "-E", "lazy_itable_init=0,lazy_journal_init=0",
                         str(self.image)], stdout=subprocess.DEVNULL)
            self.mount.mkdir(exist_ok=True)
            run_checked(["mount", "-o", "loop", str(self.image), str(self.mount)],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except BaseException:
            self.__exit__()
            raise
        return self.mount

    def __exit__(self, *exc):
        self._unmount()
        self.image.unlink(missing_ok=True)

    def _unmount(self):
        if os.path.ismount(self.mount):
            subprocess.run(["umount", str(self.mount)], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)


def can_drop_caches() -> bool:
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("1\n")
        return True
    except OSError:
        return False


def drop_caches():
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def measure(cmd, cwd=None):
    """Runs cmd; returns (exit status, wall s, peak resident KiB, CPU s, stderr).

    Peak and CPU come from GNU time: a child forked from this Python process
    would count Python's own pages in its peak, one forked from time does
    not. CPU is user plus system time, over all threads."""
    with tempfile.TemporaryFile() as err, tempfile.NamedTemporaryFile("r") as usage:
        start = time.perf_counter()
        p = subprocess.run([TIME, "-f", "%M %U %S", "-o", usage.name, *cmd], cwd=cwd,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        wall = time.perf_counter() - start
        err.seek(0)
        fields = usage.read().split()[-3:]
        try:
            kib, cpu = int(fields[0]), float(fields[1]) + float(fields[2])
        except (IndexError, ValueError):
            kib, cpu = 0, 0.0
        return p.returncode, wall, kib, cpu, err.read().decode("utf-8", "replace")


class Tool:
    def __init__(self, name, argv):
        self.name = name
        self.argv = argv  # callable: output folder -> command line
        self.times = {}
        self.peaks = {}
        self.cpu = {}


DURABLE_FLOOR = "durable floor, 2 threads"


def durable_floor(tree: Path, out: Path, reference, check: bool) -> float:
    """The durable-write floor into `out`: the seconds it reports for its
    writing alone (reading the payload into memory is not counted)."""
    out.mkdir()
    os.sync()
    p = subprocess.run([str(HOST_BIN / "durable-floor"), str(tree), str(out), "2"],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if p.returncode != 0:
        raise SystemExit(f"bench: durable-floor failed: {p.stderr[:2000]!r}")
    if check and tree_signature(out) != reference:
        raise SystemExit("bench: durable-floor wrote a different tree: "
                         f"{describe_difference(reference, tree_signature(out))}")
    return float(p.stdout.split()[0])


def run_tools(tools, floor_cmds, runs, mode, reference, out_root, keep, tree):
    """One mode (cold or warm): every tool `runs` times, taking turns.
    The trees stay when `keep` (see QUIET_AFTER_DELETE)."""
    for t in tools:
        t.times[mode], t.peaks[mode], t.cpu[mode] = [], [], []
    floors = {k: [] for k in floor_cmds}
    floor_cpu = {k: [] for k in floor_cmds}
    floors[DURABLE_FLOOR], floor_cpu[DURABLE_FLOOR] = [], []
    checked = set()
    mode_root = out_root / mode
    mode_root.mkdir(parents=True)
    if mode == "warm":
        # Once each, unmeasured: the archives and programs into memory.
        for t in tools:
            out = mode_root / f"warmup-{t.name}"
            out.mkdir()
            measure(t.argv(out))
            if not keep:
                shutil.rmtree(out)
        for cmd in floor_cmds.values():
            measure(cmd)
    for i in range(runs):
        order = tools[i % len(tools):] + tools[:i % len(tools)]
        for t in order:
            out = mode_root / f"{t.name}-{i}"
            out.mkdir()
            os.sync()  # the last run's writes are not this run's work
            if mode == "cold":
                drop_caches()
            rc, wall, peak, cpu, err = measure(t.argv(out))
            if rc != 0:
                raise SystemExit(f"bench: {t.name} failed with exit status {rc}: {err[:2000]}")
            if t.name not in checked:
                got = tree_signature(out)
                if got != reference:
                    raise SystemExit(f"bench: {t.name} unpacked a different tree: "
                                     f"{describe_difference(reference, got)}")
                checked.add(t.name)
            t.times[mode].append(wall)
            t.peaks[mode].append(peak)
            t.cpu[mode].append(cpu)
            if not keep:
                shutil.rmtree(out)
        for name, cmd in floor_cmds.items():
            if mode == "cold":
                drop_caches()
            rc, wall, _, cpu, err = measure(cmd)
            if rc != 0:
                raise SystemExit(f"bench: inflate-floor failed: {err[:2000]}")
            floors[name].append(wall)
            floor_cpu[name].append(cpu)
        out = mode_root / f"durable-floor-{i}"
        floors[DURABLE_FLOOR].append(durable_floor(tree, out, reference, i == 0))
        floor_cpu[DURABLE_FLOOR].append(0.0)  # not measured: its reading is not its work
        if not keep:
            shutil.rmtree(out)
    return floors, floor_cpu


def report(tools, floors, floor_cpu, mode, runs):
    ours = tools[0]
    med = {t.name: statistics.median(t.times[mode]) for t in tools}
    floor2 = statistics.median(floors["floor, 2 threads"])
    durable = statistics.median(floors[DURABLE_FLOOR])
    higher = max(floor2, durable)
    say(f"  {'':28} {'median s':>9} {'min s':>7} {'max s':>7} {'CPU s':>7} {'peak MiB':>9} "
        f"{'ours/this':>10}")
    for t in tools:
        ratio = "" if t is ours else f"{med[ours.name] / med[t.name]:10.2f}"
        say(f"  {t.name:28} {med[t.name]:9.3f} {min(t.times[mode]):7.3f} {max(t.times[mode]):7.3f} "
            f"{statistics.median(t.cpu[mode]):7.3f} {max(t.peaks[mode]) / 1024:9.1f} {ratio}")
    for name, values in floors.items():
        m = statistics.median(values)
        cpu = "" if name == DURABLE_FLOOR else f"{statistics.median(floor_cpu[name]):.3f}"
        say(f"  {name:28} {m:9.3f} {min(values):7.3f} {max(values):7.3f} "
            f"{cpu:>7} {'':>9} {med[ours.name] / m:10.2f}")
    peak = max(ours.peaks[mode]) / 1024
    goals = [
        (f"ours <= {GOAL_UNZIP} x unzip", med[ours.name] / med["unzip"], GOAL_UNZIP),
        (f"ours <= {GOAL_BSDTAR:g} x bsdtar", med[ours.name] / med["bsdtar"], GOAL_BSDTAR),
        (f"ours <= {GOAL_FLOOR} x max(floors)", med[ours.name] / higher, GOAL_FLOOR),
        ("ours / durable floor", med[ours.name] / durable, GOAL_FLOOR),
        (f"peak memory < {GOAL_MEMORY} MiB", peak, GOAL_MEMORY),
    ]
    say(f"  goals ({runs} runs):")
    for label, value, limit in goals:
        verdict = "met" if value <= limit else "MISSED"
        say(f"    {label:34} {value:8.2f}   {verdict}")


def wine_install(archive: Path, reference, runs: int):
    """The whole installation under Wine, end to end, as a user would run it."""
    sys.path.insert(0, str(ROOT / "tests" / "e2e"))
    from winetest import WinePrefix  # noqa: E402

    stub = WIN_BIN / "ruduvizide-stub.exe"
    installer = WIN_BIN / "ravozi-rt-installer.exe"
    # Brought up to date like the host build, so that both time the same code.
    run_checked(["cmake", "--preset", "windows"], cwd=ROOT, stdout=subprocess.DEVNULL)
    run_checked(["cmake", "--build", "--preset", "windows", "--target", "ruduvizide-stub",
                 "ravozi-rt-installer"], cwd=ROOT, stdout=subprocess.DEVNULL)
    sfx = BENCH / "ruduvizide.exe"
    with open(sfx, "wb") as out:
        for part in (stub, archive):
            with open(part, "rb") as f:
                shutil.copyfileobj(f, out, 1 << 20)

    say("Wine: full installation of the payload (ravozi-rt-installer.exe -> ruduvizide.exe)")
    for exe in (installer, stub):
        built = time.strftime("%Y-%m-%d %H:%M", time.localtime(exe.stat().st_mtime))
        say(f"  {exe.relative_to(ROOT)} (built {built})")
    start = time.perf_counter()
    with WinePrefix() as w:
        boot = time.perf_counter() - start
        work = w.drive_c / "benchrun"
        work.mkdir()
        shutil.copy(installer, work / installer.name)
        times, alone = [], []
        # A fresh folder for every run, deleted only at the end: see run_tools
        # on what deleting just before a run costs.
        for i in range(runs):
            name = "rt" if i == 0 else f"rt-{i + 1}"
            w.forget_record()
            shutil.copy(sfx, work / "ruduvizide.exe")
            os.sync()
            t0 = time.perf_counter()
            r = w.run(work / installer.name, cwd=work, stdin=f"C:\\bench\\{name}\n\n".encode(),
                      timeout=1800)
            times.append(time.perf_counter() - t0)
            out = r.stdout.replace(b"\r\n", b"\n")
            if r.returncode != 0 or b"Finished successfully" not in out:
                raise SystemExit(f"bench: the installer failed ({r.returncode}): "
                                 f"{out[-1500:]!r} {r.stderr[-1500:]!r}")
            if (work / "ruduvizide.exe").exists():
                raise SystemExit("bench: the installer left ruduvizide.exe behind")
            if i == 0:
                got = tree_signature(w.drive_c / "bench" / name)
                if got != reference:
                    raise SystemExit("bench: the installed tree differs: "
                                     f"{describe_difference(reference, got)}")
            # The extractor on its own, to tell its share from the installer's.
            shutil.copy(sfx, work / "alone.exe")
            os.sync()
            t0 = time.perf_counter()
            r = w.run(work / "alone.exe", ["-qq", "-d", f"C:\\alone\\{i + 1}"], cwd=work,
                      timeout=1800)
            alone.append(time.perf_counter() - t0)
            if r.returncode != 0:
                raise SystemExit(f"bench: ruduvizide.exe failed under Wine: {r.stderr[-1500:]!r}")
            (work / "alone.exe").unlink()
    say(f"  prefix set up in {boot:.1f} s (not counted)")
    say(f"  installer, end to end:     median {statistics.median(times):7.3f} s  "
        f"(runs: {', '.join(f'{t:.2f}' for t in times)})")
    say(f"  ruduvizide.exe -qq alone:  median {statistics.median(alone):7.3f} s  "
        f"(runs: {', '.join(f'{t:.2f}' for t in alone)})")


def syscalls(tools, out_root):
    """One run of each tool under strace -c: where the system time goes."""
    for t in tools:
        out = out_root / f"strace-{t.name}"
        out.mkdir(parents=True)
        log = out_root / f"strace-{t.name}.txt"
        run_checked(["strace", "-f", "-c", "-o", str(log), *t.argv(out)],
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        lines = log.read_text().splitlines()
        say(f"  {t.name}: " + "; ".join(
            f"{cols[-1]} {cols[3]}" for cols in (l.split() for l in lines[2:12])
            if len(cols) >= 5 and cols[3].isdigit()))
        total = lines[-1].split() if lines else []
        say(f"    total: {total[3] if len(total) > 3 else '?'} calls")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--runs", type=int, default=5, help="timed runs per tool and mode (5)")
    ap.add_argument("--scale", type=float, default=1.0, help="payload size factor (1)")
    ap.add_argument("--cache", choices=["auto", "cold", "warm", "both"], default="auto",
                    help="auto: cold and warm when the cache can be dropped, else warm")
    ap.add_argument("--stub", type=Path, help="another native stub to time (default: host build)")
    ap.add_argument("--wine", dest="wine", action="store_true", default=None)
    ap.add_argument("--no-wine", dest="wine", action="store_false")
    ap.add_argument("--wine-runs", type=int, default=3)
    ap.add_argument("--syscalls", action="store_true", help="also count system calls with strace")
    ap.add_argument("--fs", choices=["auto", "fresh", "here"], default="auto",
                    help="fresh: unpack on a new ext4 in a loop-mounted image (needs root); "
                         "here: on build/bench's own file system; auto: fresh when possible")
    ap.add_argument("--out", type=Path,
                    help="where to unpack (default build/bench/out); on tmpfs the disk is "
                         "left out of the figures")
    ap.add_argument("--no-wait", dest="wait", action="store_false",
                    help="start at once even right after another run deleted its trees")
    args = ap.parse_args()

    for tool in ("zip", "unzip", "bsdtar", TIME):
        if not shutil.which(tool):
            raise SystemExit(f"bench: {tool} is missing (scripts/install-deps installs it)")
    # One run at a time: two would share build/bench and each other's cores.
    BENCH.mkdir(parents=True, exist_ok=True)
    lock = open(BENCH / ".lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        say("bench: another run holds build/bench; waiting for it to finish")
        fcntl.flock(lock, fcntl.LOCK_EX)
    targets = ["make-payload", "inflate-floor", "durable-floor"] + \
        ([] if args.stub else ["ruduvizide-stub"])
    build_host(targets)
    stub = args.stub or HOST_BIN / "ruduvizide-stub"

    archive = make_payload(args.scale)
    tree = archive.with_suffix("")
    reference = tree_signature(tree)
    files = sum(1 for v in reference.values() if v is not None)
    folders = len(reference) - files
    size = sum(v[0] for v in reference.values() if v is not None)
    sfx = BENCH / "sfx"
    with open(sfx, "wb") as out:
        for part in (stub, archive):
            with open(part, "rb") as f:
                shutil.copyfileobj(f, out, 1 << 20)
    sfx.chmod(0o755)

    say(f"payload: {files} files, {folders} folders, {size / 2**20:.1f} MiB; "
        f"{archive.name} {archive.stat().st_size / 2**20:.1f} MiB; {os.cpu_count()} cores")
    say(f"ours: {stub}")

    with contextlib.ExitStack() as stack:
        fresh = None
        if args.out is None and args.fs != "here":
            try:
                fresh = stack.enter_context(FreshFilesystem(4))
            except (OSError, subprocess.CalledProcessError) as e:
                if args.fs == "fresh":
                    raise SystemExit(f"bench: cannot mount a fresh file system: {e}")
                say("bench: no fresh file system could be mounted (needs root and loop "
                    "devices); unpacking into build/bench/out")
        measure_all(args, stub, sfx, archive, reference, size, fresh)


def measure_all(args, stub, sfx, archive, reference, size, fresh):
    # On a fresh (journalled) file system or tmpfs a deleted tree costs
    # nothing later; on this machine's own disk they are kept (see
    # QUIET_AFTER_DELETE).
    out_root = (fresh / "out" if fresh else args.out or BENCH / "out").resolve()
    out_fs = filesystem_of(out_root.parent if not out_root.exists() else out_root)
    keep = fresh is None and out_fs != "tmpfs"
    if keep:
        delete_trees(out_root)
    else:
        shutil.rmtree(out_root, ignore_errors=True)
    out_root.mkdir(parents=True)
    tools = [
        Tool("ruduvizide (ours)", lambda d: [str(sfx), "-qq", "-d", str(d)]),
        # What flushing every file before its rename costs: the same without.
        Tool("ruduvizide, no flush", lambda d: ["env", "RUDUVIZIDE_BENCH_NO_FLUSH=1", str(sfx),
                                                "-qq", "-d", str(d)]),
        Tool("unzip", lambda d: ["unzip", "-qq", "-o", str(archive), "-d", str(d)]),
        Tool("bsdtar", lambda d: ["bsdtar", "-xf", str(archive), "-C", str(d)]),
    ]
    floor_cmds = {
        "floor, 2 threads": [str(HOST_BIN / "inflate-floor"), str(archive), "2"],
        "floor, 1 thread": [str(HOST_BIN / "inflate-floor"), str(archive), "1"],
    }
    droppable = can_drop_caches()
    modes = {"auto": ["cold", "warm"] if droppable else ["warm"], "both": ["cold", "warm"],
             "cold": ["cold"], "warm": ["warm"]}[args.cache]
    if "cold" in modes and not droppable:
        raise SystemExit("bench: the page cache cannot be dropped here; use --cache warm")
    trees = len(modes) * (len(tools) + 1) * args.runs + (len(tools) if "warm" in modes else 0)
    where = "a fresh ext4 in build/bench/fs.img" if fresh else f"{out_root} ({out_fs})"
    if keep:
        say(f"unpacking into {where}; trees kept until the end: {trees}, "
            f"{trees * size / 2**30:.1f} GiB")
        wait_after_deletions(args.wait)
    else:
        say(f"unpacking into {where}; each tree deleted after its run")
    for mode in modes:
        say()
        say("load average before: " + " ".join(f"{x:.2f}" for x in os.getloadavg()) +
            " (other work on the machine shows in the figures)")
        say({"cold": "cold: page cache dropped before every run",
             "warm": "warm: archive and programs already in the page cache"}[mode])
        floors, floor_cpu = run_tools(tools, floor_cmds, args.runs, mode, reference, out_root,
                                      keep, archive.with_suffix(""))
        report(tools, floors, floor_cpu, mode, args.runs)

    if args.syscalls:
        say()
        say("system calls, one run each (strace -c -f), by time spent in them:")
        syscalls(tools, out_root)

    wine = args.wine
    if wine is None:
        wine = bool(shutil.which("wine")) and (ROOT / "build" / "windows").is_dir()
    if wine:
        say()
        if fresh:
            tempfile.tempdir = str(fresh)  # the prefix, too, on the fresh disk
        wine_install(archive, reference, args.wine_runs)
        tempfile.tempdir = None
    if keep:
        delete_trees(out_root)
    else:
        shutil.rmtree(out_root, ignore_errors=True)


if __name__ == "__main__":
    main()
