#!/usr/bin/env python3
"""What anti-aliasing buys and costs: error against a 16x16 reference, CPU time.

Usage: bench/aa.py [--fotolume PATH] [--size 240x180] [--runs N]
                   [--thresholds 0.05,0.1,...] [SCENE ...]

For each scene (default: the glass scene bench/scenes/recursion.txt, the
checker floor bench/scenes/spheres.txt and bench/scenes/thin.txt, slivers of
triangles over checker cells that shrink toward the horizon) renders a reference with a full
16x16 grid of rays in every pixel, then one ray a pixel, the full 4x4 grid
(--aa-threshold 0) and the adaptive 4x4 grid at the default threshold and
at each threshold given. Prints, for each, the mean absolute difference of
its bytes from the reference's, that error as a share of the full grid's,
the median CPU seconds (user + system) of --runs single-thread renders, and
that time as a share of the full grid's.

Then the bound on any rule that gives each pixel either its one ray or its
whole 4x4 grid: an oracle that knows each pixel's gain (how much nearer the
reference the grid's colour is than the one ray's) gives grids to the pixels
of most gain first, until its error is at most --target times the full
grid's. Printed: the share of pixels it gives grids to and the rays it traces
(one a pixel, the other 15 of a grid where it gives one) as a share of the
full grid's, beside the adaptive rule's own rays (--stats, primary and
anti-aliasing samples). A rule whose rays come near the oracle's cannot be
made much thriftier by a sharper decision alone.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def render(fotolume, scene, size, options, threads="1"):
    """Renders to a temporary PPM; returns (pixel bytes, CPU seconds)."""
    width, height = size.split("x")
    with tempfile.NamedTemporaryFile(suffix=".ppm") as out:
        command = [fotolume, "-q", "-t", threads] + options + [scene, out.name, width, height]
        process = subprocess.Popen(command, stderr=subprocess.PIPE)
        _, status, usage = os.wait4(process.pid, 0)
        err = process.stderr.read().decode(errors="replace")
        process.stderr.close()
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit("failed: %s\n%s" % (" ".join(command), err))
        data = open(out.name, "rb").read()
    header = "P6\n%s %s\n255\n" % (width, height)
    return data[len(header):], usage.ru_utime + usage.ru_stime


def error(image, reference):
    return sum(abs(a - b) for a, b in zip(image, reference)) / len(reference)


def oracle(one, full, reference, target):
    """(share of pixels, share of the full grid's primary rays) at which
    giving grids in order of gain brings the error to target x the full
    grid's; every ray counted alike."""
    pixels = len(reference) // 3
    gains = sorted((sum(abs(one[p + k] - reference[p + k]) - abs(full[p + k] - reference[p + k])
                        for k in range(3)) for p in range(0, 3 * pixels, 3)), reverse=True)
    total = error(one, reference) * len(reference)
    goal = target * error(full, reference) * len(reference)
    given = 0
    while total > goal and given < pixels:
        total -= gains[given]
        given += 1
    return given / pixels, (pixels + 15 * given) / (16 * pixels)


def grid_rays(fotolume, scene, size, options):
    """Primary and anti-aliasing rays of one render, from --stats."""
    width, height = size.split("x")
    command = [fotolume, "--stats", "-t", "1"] + options + [scene, os.devnull, width, height]
    err = subprocess.run(command, stderr=subprocess.PIPE, check=True).stderr.decode()
    words = next(line for line in err.splitlines() if line.strip().startswith("rays:")).split()
    return int(words[1]) + int(words[3])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--fotolume", default=os.path.join(ROOT, "build/release/src/fotolume"))
    parser.add_argument("--size", default="240x180")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--thresholds", default="")
    parser.add_argument("--target", type=float, default=1.15)
    parser.add_argument("scenes", nargs="*")
    args = parser.parse_args()
    scenes = args.scenes or [os.path.join(ROOT, "bench/scenes", name)
                             for name in ("recursion.txt", "spheres.txt", "thin.txt")]
    variants = [("1 ray", ["--samples", "1"]),
                ("4x4 full", ["--samples", "4", "--aa-threshold", "0"]),
                ("4x4 adaptive, default", ["--samples", "4"])]
    for t in filter(None, args.thresholds.split(",")):
        variants.append(("4x4 adaptive, T=" + t, ["--samples", "4", "--aa-threshold", t]))
    print("size %s; error: mean absolute byte difference from a 16x16 full grid; "
          "CPU: median of %d single-thread runs" % (args.size, args.runs))
    for scene in scenes:
        reference, _ = render(args.fotolume, scene, args.size,
                              ["--samples", "16", "--aa-threshold", "0"],
                              str(os.cpu_count() or 1))
        rows = []
        images = []
        for name, options in variants:
            image, _ = render(args.fotolume, scene, args.size, options)
            images.append(image)
            cpu = statistics.median(render(args.fotolume, scene, args.size, options)[1]
                                    for _ in range(args.runs))
            rows.append((name, error(image, reference), cpu))
        full_error, full_cpu = rows[1][1], rows[1][2]
        print("\n%s" % os.path.relpath(scene, ROOT))
        print("%-24s %8s %10s %8s %10s" % ("", "error", "/ full", "CPU s", "/ full"))
        for name, err, cpu in rows:
            print("%-24s %8.3f %10.2f %8.3f %10.2f" % (name, err, err / full_error, cpu,
                                                       cpu / full_cpu))
        share, rays = oracle(images[0], images[1], reference, args.target)
        full_rays = grid_rays(args.fotolume, scene, args.size, variants[1][1])
        rule_rays = grid_rays(args.fotolume, scene, args.size, variants[2][1])
        print("bound at %.2fx the full grid's error: grids for %.2f of pixels, %.2f of its rays; "
              "the default rule traces %.2f of its rays" % (args.target, share, rays,
                                                             rule_rays / full_rays))


if __name__ == "__main__":
    main()
