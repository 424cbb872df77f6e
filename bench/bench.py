#!/usr/bin/env python3
"""Times our self-extractor against Info-ZIP unzip and bsdtar on one payload,
against the floor of inflating it in memory, and against the floor of
writing its files durably (temporaries, group-committed flushes, renames,
directory flushes) without inflating; then the cost curve: payloads of many
small files and of one large file, against unzip and bsdtar with and without
`sync -f` after them; optionally a whole installation under Wine.
Prints figures; it is not a test.

The payloads (bench/make_payload.cpp) are generated and zipped once into
build/bench and reused while the generator stays the same. Every run unpacks
into a fresh folder, the tools take turns, and the median is reported.
When this user may drop the page cache, every run on the main payload is
timed twice over: cold (cache dropped before each run) and warm (archive
already in memory). The cost curve is timed warm, best of --curve-runs.

The fair bound: two cores cannot inflate and write durably at full speed at
once, so the bound on a run is the larger of the two floors' times and of
their CPU time together shared over the cores. That CPU time is the whole
machine's (from /proc/stat) during each floor's run: most of a flush's work
is done by kernel threads, outside the process. Each of our runs is paired
with a floor run next to it, and the spread of the paired ratios is shown.
"""

import argparse
import contextlib
import fcntl
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BENCH = ROOT / "build" / "bench"
HOST_BIN = ROOT / "build" / "host" / "bin"
WIN_BIN = ROOT / "build" / "windows" / "bin"
TIME = "/usr/bin/time"

GOAL_UNZIP = 0.6     # our time at most this share of unzip's
GOAL_BSDTAR = 1.0    # ... and no slower than bsdtar
GOAL_FAIR = 1.15     # ... within this factor of the fair bound (see above)
GOAL_SYNCED = 0.9    # every shape: at most this share of the faster peer followed by sync -f
GOAL_MEMORY = 32     # MiB, peak resident, whatever the payload

# The cost curve's payloads (make-payload's shapes): many small files in
# folders, flat by the ten and hundred thousand, one large file twice.
CURVE = "small:20000:400,small:10000,small:100000,large:384,large:1024"
# --quick: a few minutes, for a look rather than a figure to quote.
QUICK = {"runs": 3, "cache": "warm", "shapes": "small:10000,large:384", "curve_runs": 1,
         "wine_runs": 1}


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


def tree_signature(root: Path, digests=True):
    """Folders, and files with their size and SHA-256, by relative name;
    without `digests`, files with their size alone."""
    sig = {}
    for dirpath, dirnames, filenames in os.walk(root):
        rel = Path(dirpath).relative_to(root)
        for d in dirnames:
            sig[(rel / d).as_posix() + "/"] = None
        for f in filenames:
            p = Path(dirpath) / f
            size = p.stat().st_size
            sig[(rel / f).as_posix()] = (size, file_digest(p)) if digests else size
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


class Shape:
    """One payload: its folder name under build/bench, its label, and
    make-payload's arguments for it."""

    def __init__(self, name, label, args):
        self.name, self.label, self.args = name, label, args


def main_shape(scale: float) -> Shape:
    suffix = "" if scale == 1 else f"-x{scale:g}"
    return Shape(f"payload{suffix}", "main payload", [repr(float(scale))])


def parse_shape(text: str) -> Shape:
    """small:COUNT[:FOLDERS], large:MIB or main, as --shapes takes them."""
    kind, *fields = text.split(":")
    numbers = [int(x) for x in fields if x.isdigit() and int(x) > 0]
    if len(numbers) == len(fields):
        if kind == "main" and not numbers:
            return main_shape(1)
        if kind == "small" and len(numbers) in (1, 2):
            where = f" in {numbers[1]:,} folders" if len(numbers) == 2 else ""
            return Shape("shape-small-" + "-".join(map(str, numbers)),
                         f"{numbers[0]:,} small files{where}", ["--small", *map(str, numbers)])
        if kind == "large" and len(numbers) == 1:
            mib = numbers[0]
            size = f"{mib >> 10} GiB" if mib % 1024 == 0 else f"{mib} MiB"
            return Shape(f"shape-large-{mib}", f"one {size} file", ["--large", str(mib)])
    raise SystemExit(f"bench: not a shape: {text!r} (small:COUNT[:FOLDERS], large:MIB or main)")


def make_payload(shape: Shape) -> Path:
    """The zipped payload, made once for each generator and shape, with its
    list of entries in archive order (the durable floor's input) and the
    tree's signature beside it."""
    tree = BENCH / shape.name
    archive = BENCH / f"{shape.name}.zip"
    stamp = BENCH / f"{shape.name}.stamp"
    generator = HOST_BIN / "make-payload"
    want = f"{file_digest(generator)} {shape.args!r}\n"
    if archive.exists() and tree.exists() and stamp.exists() and stamp.read_text() == want:
        return archive
    say(f"bench: generating the payload into {tree.relative_to(ROOT)} ({shape.label})")
    delete_trees(tree)
    archive.unlink(missing_ok=True)
    BENCH.mkdir(parents=True, exist_ok=True)
    run_checked([str(generator), str(tree), *shape.args], stdout=subprocess.DEVNULL)
    part = archive.with_suffix(".zip.part")
    part.unlink(missing_ok=True)
    # Info-ZIP zip, deflate at its default level, as a release would be packed.
    run_checked(["zip", "-q", "-r", str(part), "."], cwd=tree)
    with zipfile.ZipFile(part) as z, open(archive.with_suffix(".list"), "w") as f:
        for info in z.infolist():
            f.write(f"{info.file_size}\t{info.filename}\n")
    with open(archive.with_suffix(".sig"), "w") as f:
        json.dump(tree_signature(tree), f)
    part.rename(archive)
    stamp.write_text(want)
    return archive


def load_signature(archive: Path):
    with open(archive.with_suffix(".sig")) as f:
        return {k: tuple(v) if v else None for k, v in json.load(f).items()}


def sizes_only(sig):
    return {k: v[0] if v else None for k, v in sig.items()}


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


TICK = os.sysconf("SC_CLK_TCK")


def machine_busy() -> float:
    """CPU seconds the whole machine has spent busy since boot, kernel
    threads and interrupts included: /proc/stat's first line, idle and
    waiting for I/O left out (guest time is inside user time already)."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:9]]
    user, nice, system, _idle, _iowait, irq, softirq, steal = fields
    return (user + nice + system + irq + softirq + steal) / TICK


def say_load():
    """How busy the machine is before a section: other work shows in every
    figure, and most in the machine's CPU, hence in the fair bound."""
    busy = machine_busy()
    time.sleep(1)
    cores = machine_busy() - busy
    say("load average before: " + " ".join(f"{x:.2f}" for x in os.getloadavg()) +
        f"; busy while we wait: {cores:.2f} of {os.cpu_count()} cores "
        "(other work on the machine shows in the figures)")


class Sample:
    """One timed run: exit status, wall s, peak resident KiB, the process's
    CPU s (user plus system, all threads), the machine's busy CPU s during
    the run, and what it wrote to stderr."""

    def __init__(self, rc, wall, kib, cpu, machine, err):
        self.rc, self.wall, self.kib, self.cpu, self.machine, self.err = \
            rc, wall, kib, cpu, machine, err


def measure(cmd, cwd=None) -> Sample:
    """Runs cmd, timed as a whole process from outside.

    Peak and CPU come from GNU time: a child forked from this Python process
    would count Python's own pages in its peak, one forked from time does
    not. The machine's CPU counts everything that ran meanwhile, this
    script's own waiting included (little) and other work on the machine."""
    with tempfile.TemporaryFile() as err, tempfile.NamedTemporaryFile("r") as usage:
        busy = machine_busy()
        start = time.perf_counter()
        p = subprocess.run([TIME, "-f", "%M %U %S", "-o", usage.name, *cmd], cwd=cwd,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        wall = time.perf_counter() - start
        machine = machine_busy() - busy
        err.seek(0)
        fields = usage.read().split()[-3:]
        try:
            kib, cpu = int(fields[0]), float(fields[1]) + float(fields[2])
        except (IndexError, ValueError):
            kib, cpu = 0, 0.0
        return Sample(p.returncode, wall, kib, cpu, machine, err.read().decode("utf-8", "replace"))


def synced(argv):
    """A peer's command followed by sync -f on its target: the same guarantee
    as ours, every file and name on disk when it returns."""
    return lambda d: ["sh", "-c", '"$@" && exec sync -f "$0"', str(d), *argv(d)]


class Tool:
    def __init__(self, name, argv):
        self.name = name
        self.argv = argv  # callable: output folder -> command line
        self.times = {}
        self.peaks = {}
        self.cpu = {}


INFLATE = "inflate floor, 2 threads"
INFLATE_ONE = "inflate floor, 1 thread"
DURABLE = "durable floor, 2 threads"


def run_floor(name, cmd, mode, out=None, reference=None) -> Sample:
    """One floor run, timed as ours is; with `reference`, the tree it wrote
    is checked by names and sizes (its bytes are not the payload's)."""
    if out is not None:
        out.mkdir()
    os.sync()
    if mode == "cold":
        drop_caches()
    r = measure(cmd)
    if r.rc != 0:
        raise SystemExit(f"bench: {name} failed with exit status {r.rc}: {r.err[:2000]}")
    if reference is not None:
        got = tree_signature(out, digests=False)
        if got != sizes_only(reference):
            raise SystemExit(f"bench: {name} wrote a different tree: "
                             f"{describe_difference(sizes_only(reference), got)}")
    return r


def run_tool(t, mode, out, reference, checked, keep, digests=True):
    out.mkdir()
    os.sync()  # the last run's writes are not this run's work
    if mode == "cold":
        drop_caches()
    r = measure(t.argv(out))
    if r.rc != 0:
        raise SystemExit(f"bench: {t.name} failed with exit status {r.rc}: {r.err[:2000]}")
    if t.name not in checked:
        got = tree_signature(out, digests)
        if not digests:
            reference = sizes_only(reference)
        if got != reference:
            raise SystemExit(f"bench: {t.name} unpacked a different tree: "
                             f"{describe_difference(reference, got)}")
        checked.add(t.name)
    t.times[mode].append(r.wall)
    t.peaks[mode].append(r.kib)
    t.cpu[mode].append((r.cpu, r.machine))
    if not keep:
        shutil.rmtree(out)


def run_tools(tools, archive, runs, mode, reference, out_root, keep):
    """One mode (cold or warm): every tool `runs` times, taking turns, each
    of our runs next to a run of both floors, which of the two goes first
    alternating. The trees stay when `keep` (see QUIET_AFTER_DELETE)."""
    for t in tools:
        t.times[mode], t.peaks[mode], t.cpu[mode] = [], [], []
    floors = {INFLATE: [], DURABLE: [], INFLATE_ONE: []}
    inflate = [str(HOST_BIN / "inflate-floor"), str(archive)]
    durable = [str(HOST_BIN / "durable-floor"), str(archive.with_suffix(".list"))]
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
        measure(inflate + ["2"])

    def pair_floors(i):
        floors[INFLATE].append(run_floor(INFLATE, inflate + ["2"], mode))
        out = mode_root / f"durable-floor-{i}"
        floors[DURABLE].append(run_floor(DURABLE, durable + [str(out), "2"], mode, out,
                                         reference if i == 0 else None))
        if not keep:
            shutil.rmtree(out)

    ours, others = tools[0], tools[1:]
    for i in range(runs):
        if i % 2:
            pair_floors(i)
        run_tool(ours, mode, mode_root / f"{ours.name}-{i}", reference, checked, keep)
        if i % 2 == 0:
            pair_floors(i)
        for t in others[i % len(others):] + others[:i % len(others)]:
            run_tool(t, mode, mode_root / f"{t.name}-{i}", reference, checked, keep)
        floors[INFLATE_ONE].append(run_floor(INFLATE_ONE, inflate + ["1"], mode))
    return floors


def fair_bounds(floors):
    """Each pair's bound: the larger floor, or both floors' machine CPU
    shared over the cores, whichever is more."""
    cores = os.cpu_count() or 1
    return [max(a.wall, d.wall, (a.machine + d.machine) / cores)
            for a, d in zip(floors[INFLATE], floors[DURABLE])]


def spread(values) -> str:
    return (f"min {min(values):.2f}, median {statistics.median(values):.2f}, "
            f"max {max(values):.2f}")


def report(tools, floors, mode, runs, goals):
    ours = tools[0]
    med = {t.name: statistics.median(t.times[mode]) for t in tools}
    say(f"  {'':28} {'median s':>9} {'min s':>7} {'max s':>7} {'CPU s':>7} {'machine':>8} "
        f"{'peak MiB':>9} {'ours/this':>10}")
    for t in tools:
        ratio = "" if t is ours else f"{med[ours.name] / med[t.name]:10.2f}"
        say(f"  {t.name:28} {med[t.name]:9.3f} {min(t.times[mode]):7.3f} {max(t.times[mode]):7.3f} "
            f"{statistics.median(c for c, _ in t.cpu[mode]):7.3f} "
            f"{statistics.median(m for _, m in t.cpu[mode]):8.2f} "
            f"{max(t.peaks[mode]) / 1024:9.1f} {ratio}")
    for name, samples in floors.items():
        walls = [r.wall for r in samples]
        m = statistics.median(walls)
        say(f"  {name:28} {m:9.3f} {min(walls):7.3f} {max(walls):7.3f} "
            f"{statistics.median(r.cpu for r in samples):7.3f} "
            f"{statistics.median(r.machine for r in samples):8.2f} {'':>9} "
            f"{med[ours.name] / m:10.2f}")
    bounds = fair_bounds(floors)
    ratios = [o / b for o, b in zip(ours.times[mode], bounds)]
    bound = statistics.median(bounds)
    say(f"  {'fair bound':28} {bound:9.3f} {min(bounds):7.3f} {max(bounds):7.3f} "
        f"{'':>7} {'':>8} {'':>9} {med[ours.name] / bound:10.2f}")
    say("  (CPU s: the process's own; machine: the whole machine's busy CPU s during the run;")
    say(f"   fair bound: max(inflate floor, durable floor, their machine CPU / "
        f"{os.cpu_count()} cores), run by run)")
    say(f"  ours / fair bound, each run against the floors run beside it: {spread(ratios)}")
    peak = max(ours.peaks[mode]) / 1024
    results = [
        (f"ours <= {GOAL_UNZIP} x unzip", med[ours.name] / med["unzip"], GOAL_UNZIP, ""),
        (f"ours <= {GOAL_BSDTAR:g} x bsdtar", med[ours.name] / med["bsdtar"], GOAL_BSDTAR, ""),
        (f"ours <= {GOAL_FAIR} x fair bound", statistics.median(ratios), GOAL_FAIR,
         f"median of {runs} pairs; {spread(ratios)}"),
        (f"peak memory < {GOAL_MEMORY} MiB", peak, GOAL_MEMORY, ""),
    ]
    say(f"  goals ({runs} runs):")
    for label, value, limit, note in results:
        verdict = "met" if value <= limit else "MISSED"
        say(f"    {label:34} {value:8.2f}   {verdict:6} {note}")
        goals.append((f"{mode}: {label}", value, limit, note))


def sfx_for(stub: Path, archive: Path, sfx: Path) -> Path:
    """Our self-extractor for `archive`: the stub with the archive appended."""
    with open(sfx, "wb") as out:
        for part in (stub, archive):
            with open(part, "rb") as f:
                shutil.copyfileobj(f, out, 1 << 20)
    sfx.chmod(0o755)
    return sfx


def curve_tools(sfx: Path, archive: Path):
    unzip = lambda d: ["unzip", "-qq", "-o", str(archive), "-d", str(d)]  # noqa: E731
    bsdtar = lambda d: ["bsdtar", "-xf", str(archive), "-C", str(d)]  # noqa: E731
    return [Tool("ruduvizide (ours)", lambda d: [str(sfx), "-qq", "-d", str(d)]),
            Tool("unzip", unzip), Tool("unzip + sync", synced(unzip)),
            Tool("bsdtar", bsdtar), Tool("bsdtar + sync", synced(bsdtar))]


def cost_curve(shapes, runs, stub, out_root, goals, peaks):
    """Each shape, every tool best of `runs`, taking turns, archive already
    in the page cache; each tree deleted after its run. Our files are
    checked byte for byte once, the peers' by name and size."""
    say()
    say_load()
    say(f"cost curve: best of {runs}, warm; ours durable, against unzip and bsdtar alone and "
        "followed by sync -f (the same guarantee as ours)")
    say(f"  {'payload':34} {'files':>7} {'MiB':>6} {'ours':>7} {'unzip':>7} {'+ sync':>7} "
        f"{'bsdtar':>7} {'+ sync':>7} {'ours/min(+sync)':>16} {'peak MiB':>9}")
    for shape in shapes:
        archive = BENCH / f"{shape.name}.zip"
        reference = load_signature(archive)
        files = sum(1 for v in reference.values() if v is not None)
        size = sum(v[0] for v in reference.values() if v is not None) / 2**20
        sfx = sfx_for(stub, archive, BENCH / f"{shape.name}.sfx")
        with open(archive, "rb") as f:
            while f.read(1 << 24):
                pass
        tools = curve_tools(sfx, archive)
        root = out_root / shape.name
        root.mkdir(parents=True)
        checked = set()
        for t in tools:
            t.times[shape.name], t.peaks[shape.name], t.cpu[shape.name] = [], [], []
        for i in range(runs):
            for t in tools[i % len(tools):] + tools[:i % len(tools)]:
                run_tool(t, shape.name, root / f"{t.name}-{i}", reference, checked, False,
                         digests=t is tools[0])
        sfx.unlink()
        best = [min(t.times[shape.name]) for t in tools]
        ratio = best[0] / min(best[2], best[4])
        peak = max(tools[0].peaks[shape.name]) / 1024
        peaks.append(peak)
        verdict = "met" if ratio <= GOAL_SYNCED else "MISSED"
        say(f"  {shape.label:34} {files:7} {size:6.0f} " +
            " ".join(f"{b:7.3f}" for b in best) + f" {ratio:9.2f} {verdict:6} {peak:9.1f}")
        goals.append((f"{shape.label}: ours <= {GOAL_SYNCED} x faster peer + sync",
                      ratio, GOAL_SYNCED, f"best of {runs}"))


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


def options():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--quick", action="store_true",
                    help="a few minutes: " + ", ".join(f"--{k.replace('_', '-')} {v}"
                                                      for k, v in QUICK.items()) +
                    " (options given too win)")
    ap.add_argument("--runs", type=int, help="timed runs per tool and mode, main payload (5)")
    ap.add_argument("--scale", type=float, default=1.0, help="main payload size factor (1)")
    ap.add_argument("--cache", choices=["auto", "cold", "warm", "both"],
                    help="main payload; auto (default): cold and warm when the cache can be "
                         "dropped, else warm")
    ap.add_argument("--shapes", help="the cost curve's payloads, comma-separated: "
                    "small:COUNT[:FOLDERS], large:MIB, main; none for no curve\n"
                    f"(default {CURVE})")
    ap.add_argument("--curve-runs", type=int, help="runs per tool and shape, best taken (3)")
    ap.add_argument("--stub", type=Path, help="another native stub to time (default: host build)")
    ap.add_argument("--wine", dest="wine", action="store_true", default=None)
    ap.add_argument("--no-wine", dest="wine", action="store_false")
    ap.add_argument("--wine-runs", type=int)
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
    defaults = {"runs": 5, "cache": "auto", "shapes": CURVE, "curve_runs": 3, "wine_runs": 3}
    for key, value in defaults.items():
        if getattr(args, key) is None:
            setattr(args, key, QUICK[key] if args.quick else value)
    if args.runs < 1 or args.curve_runs < 1 or args.wine_runs < 1:
        raise SystemExit("bench: runs must be at least 1")
    args.shapes = [] if args.shapes == "none" else [parse_shape(x) for x in args.shapes.split(",")]
    return args


def main():
    args = options()
    for tool in ("zip", "unzip", "bsdtar", "sync", TIME):
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
    started = time.perf_counter()
    targets = ["make-payload", "inflate-floor", "durable-floor"] + \
        ([] if args.stub else ["ruduvizide-stub"])
    build_host(targets)
    stub = args.stub or HOST_BIN / "ruduvizide-stub"

    # Every payload before any timing: generating one is heavy work.
    archive = make_payload(main_shape(args.scale))
    for shape in args.shapes:
        make_payload(shape)
    reference = load_signature(archive)
    files = sum(1 for v in reference.values() if v is not None)
    folders = len(reference) - files
    size = sum(v[0] for v in reference.values() if v is not None)
    sfx = sfx_for(stub, archive, BENCH / "sfx")

    say(f"payload: {files} files, {folders} folders, {size / 2**20:.1f} MiB; "
        f"{archive.name} {archive.stat().st_size / 2**20:.1f} MiB; {os.cpu_count()} cores")
    say(f"ours: {stub}")

    with contextlib.ExitStack() as stack:
        fresh = None
        if args.out is None and args.fs != "here":
            try:
                fresh = stack.enter_context(FreshFilesystem(6))
            except (OSError, subprocess.CalledProcessError) as e:
                if args.fs == "fresh":
                    raise SystemExit(f"bench: cannot mount a fresh file system: {e}")
                say("bench: no fresh file system could be mounted (needs root and loop "
                    "devices); unpacking into build/bench/out")
        measure_all(args, stub, sfx, archive, reference, size, fresh)
    say(f"\nbench: done in {(time.perf_counter() - started) / 60:.1f} min")
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
    goals, peaks = [], []
    for mode in modes:
        say()
        say_load()
        say({"cold": "cold: page cache dropped before every run",
             "warm": "warm: archive and programs already in the page cache"}[mode])
        floors = run_tools(tools, archive, args.runs, mode, reference, out_root, keep)
        report(tools, floors, mode, args.runs, goals)
        peaks.append(max(tools[0].peaks[mode]) / 1024)

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

    # Last: on this machine's own disk its deleted trees would slow whatever
    # came after (see QUIET_AFTER_DELETE).
    if args.shapes:
        if keep:
            say("\nbench: the cost curve deletes each tree after its run; on this disk that "
                "slows the runs after it (--fs fresh avoids it)")
        out_root.mkdir(parents=True)
        cost_curve(args.shapes, args.curve_runs, stub, out_root, goals, peaks)
        shutil.rmtree(out_root, ignore_errors=True)
    summary(goals, peaks)


def summary(goals, peaks):
    say()
    say("goals:")
    goals.append((f"peak memory < {GOAL_MEMORY} MiB, every payload", max(peaks), GOAL_MEMORY, ""))
    width = max(len(g[0]) for g in goals)
    for label, value, limit, note in goals:
        verdict = "met" if value <= limit else "MISSED"
        say(f"  {label:{width}} {value:8.2f}   {verdict:6} {note}")


if __name__ == "__main__":
    main()
