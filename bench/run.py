#!/usr/bin/env python3
"""Time fotolume on one thread and on all, against POV-Ray 3.7 likewise.

Usage: bench/run.py [--runs N] [--sizes 640x480,1920x1080] [--fotolume PATH]
                    [--baseline PATH] [--meshes N,N] [--mesh-runs N]
                    [--memory WxH | --no-memory]
                    [SCENE ...]

For each scene (default: bench/scenes/*.txt) and size, reports the median
wall and CPU (user + system) seconds of fotolume with --threads 1 and with
one thread per available CPU, run in turn, the speed-up between them (the
median of the pairs' ratios), and the same for
POV-Ray (translated by bench/pov.py; one ray per pixel, no antialiasing,
+WT1 and +WT with the same thread count) with the ratio of the all-thread
wall times. POV-Ray's columns are left out, with a note, when `povray` is
not installed. Checks each fotolume image against tests/image/golden.txt
where a checksum is recorded, and gives each scene's rays per second on one
thread (from --stats). With --baseline, a build of an earlier version, it
then times both builds on one thread in pairs, prints each scene's CPU
ratio (the median of the pairs' ratios; below 1: faster now) and their
geometric mean, and checks that the two images are the same bytes. Then a
bumpy sphere of about one and ten million faces (--meshes; 0 leaves them
out), as one smooth row, one mesh row and (at a million) triangle rows, is
read, built and rendered on all threads at 1920x1080 by both renderers:
wall and CPU seconds, peak memory and its bytes a face. It ends with the
peak resident memory of one large render written to /dev/null.
"""
import argparse
import glob
import hashlib
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def timed(command):
    """Runs a command; returns (wall s, CPU s, peak resident MiB)."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    err = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), err))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def medians(command, runs):
    results = [timed(command) for _ in range(runs)]
    return tuple(statistics.median(r[i] for r in results) for i in range(3))


def paired(one, many, runs):
    """Runs the two commands in turn, so drift in the machine's speed hits
    both alike; returns their medians and the median of the pairs' wall
    ratios one / many (the speed-up)."""
    pairs = [(timed(one), timed(many)) for _ in range(runs)]
    first = tuple(statistics.median(p[0][i] for p in pairs) for i in range(3))
    second = tuple(statistics.median(p[1][i] for p in pairs) for i in range(3))
    return first, second, statistics.median(p[0][0] / p[1][0] for p in pairs)


def rays_per_second(fotolume, scene, width, height):
    """Millions of rays a second on one thread, as --stats reports them."""
    run = subprocess.run([fotolume, "-q", "-t", "1", "--stats", scene, "/dev/null",
                          str(width), str(height)], capture_output=True, text=True, check=True)
    for line in run.stderr.splitlines():
        if "million rays a second" in line:
            return float(line.split()[1])
    return float("nan")


def against_baseline(args, scenes, tmp):
    """Single-thread CPU time of this build over the baseline's, paired."""
    print("\none thread against %s: CPU seconds, median of %d pairs; ratio now / before"
          % (args.baseline, args.runs))
    print("%-10s %-9s %8s %8s %7s  image" % ("scene", "size", "now", "before", "ratio"))
    ratios = []
    for size in args.sizes.split(","):
        width, height = size.split("x")
        for scene in scenes:
            name = os.path.splitext(os.path.basename(scene))[0]
            now, before = (os.path.join(tmp, name + suffix) for suffix in (".now.ppm", ".before.ppm"))
            pairs = [(timed([args.fotolume, "-q", "-t", "1", scene, now, width, height]),
                      timed([args.baseline, "-t", "1", scene, before, width, height]))
                     for _ in range(args.runs)]
            ratio = statistics.median(p[0][1] / p[1][1] for p in pairs)
            ratios.append(ratio)
            with open(now, "rb") as a, open(before, "rb") as b:
                same = "same" if a.read() == b.read() else "DIFFERENT"
            print("%-10s %-9s %8.3f %8.3f %7.3f  %s" % (
                name, size, statistics.median(p[0][1] for p in pairs),
                statistics.median(p[1][1] for p in pairs), ratio, same), flush=True)
    mean = math.exp(sum(math.log(r) for r in ratios) / len(ratios))
    print("geometric mean of the ratios: %.3f (speed %.2fx)" % (mean, 1 / mean))


def with_peak(command):
    """(wall s, CPU s, peak resident MiB, note) of one run. A process forked
    from this Python carries Python's resident size into its peak; GNU time,
    a small process, forks the command itself."""
    gnu_time = shutil.which("time") or ("/usr/bin/time" if os.path.exists("/usr/bin/time")
                                        else None)
    if not gnu_time:
        wall, cpu, peak = timed(command)
        return wall, cpu, peak, " (at most: the figure includes this Python process)"
    report = os.path.join(tempfile.gettempdir(), "fotolume-bench-time.txt")
    wall, cpu, _ = timed([gnu_time, "-f", "%M", "-o", report] + command)
    with open(report) as kib:
        peak = int(kib.read().split()[-1]) / 1024.0
    os.remove(report)
    return wall, cpu, peak, ""


def pov_command(povray, pov, width, height, threads, tmp):
    return [povray, "+I" + pov, "+O" + os.path.join(tmp, "pov.png"), "+W%d" % width,
            "+H%d" % height, "-A", "-D", "+Q9", "-V", "+WT%d" % threads]


def large_mesh(args, threads, povray):
    """The bumpy sphere of bench/bumpy.py at each of --meshes face counts, in
    each form (triangle rows up to a million faces only: past that their text
    passes the scene limit), read, built and rendered whole at 1920x1080 on
    all threads: wall, CPU, peak memory and bytes a face, the medians of
    --mesh-runs runs; and POV-Ray on the same faces (mesh2 for the mesh forms)
    where it is installed, with fotolume's wall as a share of POV-Ray's."""
    width, height = 1920, 1080
    print("\nbumpy sphere at %dx%d on %d threads; median of %d runs" % (
        width, height, threads, args.mesh_runs))
    print("%-9s %-10s %8s %8s %9s %9s %7s" % ("faces", "form", "wall", "CPU", "peak MiB",
                                              "bytes/face", "Mray/s") +
          (" | %8s %8s %9s %9s %8s" % ("POV wall", "POV CPU", "POV MiB", "POV B/face",
                                        "wall/POV") if povray else ""))
    for count in (int(n) for n in args.meshes.split(",") if int(n) > 0):
        for form in ("smooth", "mesh", "triangles"):
            if form == "triangles" and count > 1000000:
                continue
            with tempfile.TemporaryDirectory() as tmp:
                scene = os.path.join(tmp, "bumpy.txt")
                made = subprocess.run([sys.executable, os.path.join(ROOT, "bench", "bumpy.py"),
                                       str(count), scene, "--form", form],
                                      capture_output=True, text=True, check=True)
                faces = int(made.stderr.split()[-3])  # "PATH: N faces (FORM)"
                runs = [with_peak([args.fotolume, scene, os.path.join(tmp, "out.png"),
                                   str(width), str(height)]) for _ in range(args.mesh_runs)]
                wall, cpu, peak = (statistics.median(r[i] for r in runs) for i in range(3))
                row = "%-9d %-10s %8.2f %8.2f %9.1f %9.0f %7.2f" % (
                    faces, form, wall, cpu, peak, peak * 1048576 / faces,
                    rays_per_second(args.fotolume, scene, 640, 480))
                if povray:
                    pov = os.path.join(tmp, "bumpy.pov")
                    subprocess.run([sys.executable, os.path.join(ROOT, "bench", "pov.py"),
                                    scene, pov], check=True)
                    os.remove(scene)  # room for POV-Ray's own copy
                    theirs = [with_peak(pov_command(povray, pov, width, height, threads, tmp))
                              for _ in range(args.mesh_runs)]
                    pwall, pcpu, ppeak = (statistics.median(r[i] for r in theirs)
                                          for i in range(3))
                    row += " | %8.2f %8.2f %9.1f %9.0f %8.2f" % (
                        pwall, pcpu, ppeak, ppeak * 1048576 / faces, wall / pwall)
                print(row + runs[0][3], flush=True)


def golden(scene, width, height):
    rel = os.path.relpath(scene, ROOT)
    with open(os.path.join(ROOT, "tests", "image", "golden.txt")) as recorded:
        for line in recorded:
            fields = line.split()
            if len(fields) == 4 and fields[0] == rel and fields[1:3] == [str(width), str(height)]:
                return fields[3]
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("scenes", nargs="*")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--sizes", default="640x480,1920x1080")
    parser.add_argument("--fotolume",
                        default=os.path.join(ROOT, "build", "release", "src", "fotolume"))
    parser.add_argument("--memory", default="20000x20000",
                        help="size of the render whose peak memory is reported")
    parser.add_argument("--no-memory", action="store_true")
    parser.add_argument("--meshes", default="1000000,10000000",
                        help="about how many faces the large meshes have (0: none)")
    parser.add_argument("--mesh-runs", type=int, default=3)
    parser.add_argument("--baseline", help="an earlier build to compare one thread against")
    args = parser.parse_args()
    scenes = args.scenes or sorted(glob.glob(os.path.join(ROOT, "bench", "scenes", "*.txt")))
    if not os.access(args.fotolume, os.X_OK):
        sys.exit("%s not found: build first (cmake --workflow --preset test)" % args.fotolume)
    threads = len(os.sched_getaffinity(0))
    povray = shutil.which("povray")

    print("median of %d runs; wall and CPU (user + system) seconds; all = %d threads"
          % (args.runs, threads))
    header = "%-10s %-9s %7s %7s %7s %7s %7s %7s" % (
        "scene", "size", "1 wall", "1 CPU", "all wall", "all CPU", "speedup", "Mray/s")
    if povray:
        header += " | %9s %9s %9s %9s %8s" % (
            "POV 1 wall", "POV 1 CPU", "POV all", "POV all CPU", "all/POV")
    print(header + "  image")
    changed = False
    with tempfile.TemporaryDirectory() as tmp:
        for size in args.sizes.split(","):
            width, height = (int(v) for v in size.split("x"))
            for scene in scenes:
                name = os.path.splitext(os.path.basename(scene))[0]
                image = os.path.join(tmp, name + ".ppm")
                one, many, speedup = paired(
                    *[[args.fotolume, "--threads", str(n), scene, image, str(width), str(height)]
                      for n in (1, threads)], args.runs)
                ours = [one, many]
                with open(image, "rb") as rendered:
                    digest = hashlib.sha256(rendered.read()).hexdigest()
                expected = golden(scene, width, height)
                same = "n/a" if expected is None else ("same" if digest == expected else "CHANGED")
                changed = changed or same == "CHANGED"
                row = "%-10s %-9s %7.3f %7.3f %7.3f %7.3f %6.2fx %7.2f" % (
                    name, size, ours[0][0], ours[0][1], ours[1][0], ours[1][1], speedup,
                    rays_per_second(args.fotolume, scene, width, height))
                if povray:
                    pov = os.path.join(tmp, name + ".pov")
                    subprocess.run([sys.executable, os.path.join(ROOT, "bench", "pov.py"),
                                    scene, pov], check=True)
                    theirs = [medians([povray, "+I" + pov, "+O" + os.path.join(tmp, "pov.ppm"),
                                       "+W%d" % width, "+H%d" % height, "-A", "+FP", "-D",
                                       "+Q9", "-V", "+WT%d" % n], args.runs)
                              for n in (1, threads)]
                    row += " | %9.3f %9.3f %9.3f %9.3f %8.2f" % (
                        theirs[0][0], theirs[0][1], theirs[1][0], theirs[1][1],
                        ours[1][0] / theirs[1][0])
                print(row + "  " + same, flush=True)
        if args.baseline:
            against_baseline(args, scenes, tmp)
    if not povray:
        print("note: povray is not installed, so its columns are left out "
              "(Debian: apt-get install povray)")
    if args.meshes != "0":
        large_mesh(args, threads, povray)
    if not args.no_memory:
        width, height = (int(v) for v in args.memory.split("x"))
        scene = os.path.join(ROOT, "scenes", "example.txt")
        wall, cpu, peak, note = with_peak([args.fotolume, scene, "/dev/null", str(width),
                                           str(height)])
        print("%s at %dx%d to /dev/null on %d threads: peak resident %.1f MiB%s, "
              "wall %.1f s, CPU %.1f s" % (os.path.relpath(scene, ROOT), width, height, threads,
                                           peak, note, wall, cpu))
    if changed:
        sys.exit("an image differs from its recorded checksum")


if __name__ == "__main__":
    main()
