#!/usr/bin/env python3
"""What anti-aliasing buys and costs, fotolume beside POV-Ray 3.7.

Usage: bench/aa.py [--fotolume PATH] [--povray PATH] [--size 480x360] [--runs N]
                   [--thresholds 0.01,0.05,...] [--target 1.15] [--cache DIR]
                   [SCENE ...]

For each scene (default: the three bench scenes recursion.txt, glass over a
checker; spheres.txt, a checker floor; thin.txt, slivers of triangles; and
the kinds in bench/scenes/aa/: a checker floor to the horizon, small bright
spheres before a gradient backdrop, glass in front of a checker, many small
shadows, the smooth bunny) each renderer is measured against its own finest
reference, so that the two are compared on what each makes of the same work
(their pictures differ: light fall-off and blends are only approximated by
bench/pov.py):

  fotolume: reference a full 16x16 grid of rays in every pixel; one ray a
    pixel; the full 4x4 grid (--aa-threshold 0); the adaptive 4x4 grid at the
    default threshold and at each threshold given.
  POV-Ray: reference its finest full grid, +AM1 +A0.0 +R9 (9x9 rays; 0.0
    supersamples every pixel); one ray (-A); the full 4x4 grid +AM1 +A0.0
    +R4; its adaptive 4x4 grid +AM1 +R4 and its recursive +AM2 +R3 (up to
    4x4 cells, corners shared) at thresholds 0.05, 0.1, 0.2 and 0.3. Output
    gamma 1, so that bytes are linear as fotolume's are.

Printed for each: the mean absolute byte difference from the reference, that
error as a share of the same renderer's full 4x4 grid's, the median CPU
seconds (user + system, the whole process) of --runs single-thread renders,
and that as a share of the full grid's. Then the line the default is judged
by: POV-Ray's thriftiest adaptive setting within --target times its full
grid's error, beside fotolume's default; and the bound on any rule that gives
each pixel either its one ray or its whole grid (an oracle that knows each
pixel's gain gives grids in order of gain until the error is --target times
the full grid's: the share of the grid's primary rays it traces, beside the
default rule's, from --stats). A summary table of every scene ends it.
"""
import argparse
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCENES = ["recursion.txt", "spheres.txt", "thin.txt", "aa/horizon.txt", "aa/backdrop.txt",
          "aa/glass-checker.txt", "aa/shadows.txt", "aa/bunny.txt"]
POV_THRESHOLDS = ("0.05", "0.1", "0.2", "0.3")


def pixels(data):
    """The pixel bytes of a binary PPM (comment lines allowed in its header)."""
    fields, at = [], 2
    while len(fields) < 3:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at) + 1
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    return data[at + 1:]


def run(command, out):
    """Runs one render; returns (pixel bytes, CPU seconds)."""
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    err = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), err[-2000:]))
    with open(out, "rb") as image:
        return pixels(image.read()), usage.ru_utime + usage.ru_stime


class Fotolume:
    name = "fotolume"

    def __init__(self, path, size, tmp):
        self.path, self.size, self.out = path, size, os.path.join(tmp, "fotolume.ppm")

    def render(self, scene, options, threads=1):
        width, height = self.size.split("x")
        return run([self.path, "-q", "-t", str(threads)] + options +
                   [scene, self.out, width, height], self.out)


class PovRay:
    name = "POV-Ray"

    def __init__(self, path, size, tmp):
        self.path, self.size, self.tmp = path, size, tmp
        self.out = os.path.join(tmp, "pov.ppm")

    def render(self, scene, options, threads=1):
        width, height = self.size.split("x")
        pov = os.path.join(self.tmp, "scene.pov")
        if getattr(self, "scene", None) != scene:
            subprocess.run([sys.executable, os.path.join(ROOT, "bench", "pov.py"), scene, pov],
                           check=True)
            self.scene = scene
        return run([self.path, "+I" + pov, "+O" + self.out, "+FP", "+W" + width, "+H" + height,
                    "-D", "-V", "-GA", "+Q9", "+WT%d" % threads, "File_Gamma=1.0"] + options,
                   self.out)


def fotolume_variants(thresholds):
    rows = [("1 ray", ["--samples", "1"]),
            ("4x4 full", ["--samples", "4", "--aa-threshold", "0"]),
            ("4x4 default", ["--samples", "4"])]
    return rows + [("4x4 T=" + t, ["--samples", "4", "--aa-threshold", t]) for t in thresholds]


def pov_variants():
    rows = [("1 ray", ["-A"]), ("4x4 full", ["+A0.0", "+AM1", "+R4"])]
    rows += [("AM1 R4 A" + t, ["+A" + t, "+AM1", "+R4"]) for t in POV_THRESHOLDS]
    return rows + [("AM2 R3 A" + t, ["+A" + t, "+AM2", "+R3"]) for t in POV_THRESHOLDS]


def error(image, reference):
    return sum(abs(a - b) for a, b in zip(image, reference)) / len(reference)


def cache_file(cache, renderer, scene, options, suffix):
    os.makedirs(cache, exist_ok=True)
    with open(scene, "rb") as text:
        key = hashlib.sha256(("%s %s %s %s" % (renderer.name, renderer.size, " ".join(options),
                                               text.read())).encode()).hexdigest()
    return os.path.join(cache, key[:32] + suffix)


def reference_of(renderer, scene, options, cache):
    """The renderer's finest image of the scene, kept in --cache when given
    (it takes longest and no rule changes it)."""
    kept = cache_file(cache, renderer, scene, options, ".bytes") if cache else None
    if kept and os.path.exists(kept):
        with open(kept, "rb") as image:
            return image.read()
    reference, _ = renderer.render(scene, options, os.cpu_count() or 1)
    if kept:
        with open(kept, "wb") as image:
            image.write(reference)
    return reference


def measure(renderer, scene, reference_options, variants, runs, cache):
    """[(name, error, CPU s, image, reference)] with the full grid second.
    POV-Ray's rows are kept in --cache too: nothing of ours changes them."""
    kept = None
    if cache and renderer.name == PovRay.name:
        kept = cache_file(cache, renderer, scene, ["rows", str(runs)] + reference_options, ".json")
        if os.path.exists(kept):
            with open(kept) as rows:
                return [tuple(row) + (None, None) for row in json.load(rows)]
    reference = reference_of(renderer, scene, reference_options, cache)
    rows = []
    for name, options in variants:
        image, first = renderer.render(scene, options)
        cpu = statistics.median([first] + [renderer.render(scene, options)[1]
                                           for _ in range(runs - 1)])
        rows.append((name, error(image, reference), cpu, image, reference))
    if kept:
        with open(kept, "w") as kept_rows:
            json.dump([row[:3] for row in rows], kept_rows)
    return rows


def table(renderer, rows):
    full_error, full_cpu = rows[1][1], rows[1][2]
    for name, err, cpu, _, _ in rows:
        print("  %-8s %-14s %8.3f %7.2fx %8.3f %7.2f" % (renderer, name, err, err / full_error,
                                                        cpu, cpu / full_cpu))


def thriftiest(rows, target):
    """The adaptive row of least CPU share within target x the full grid's error."""
    full_error, full_cpu = rows[1][1], rows[1][2]
    within = [r for r in rows[2:] if r[1] <= target * full_error]
    if not within:
        return None
    best = min(within, key=lambda r: r[2])
    return best[0], best[1] / full_error, best[2] / full_cpu


def oracle(one, full, reference, target):
    """Share of the full grid's primary rays at which giving grids in order
    of gain brings the error to target x the full grid's."""
    count = len(reference) // 3
    gains = sorted((sum(abs(one[p + k] - reference[p + k]) - abs(full[p + k] - reference[p + k])
                        for k in range(3)) for p in range(0, 3 * count, 3)), reverse=True)
    total = error(one, reference) * len(reference)
    goal = target * error(full, reference) * len(reference)
    given = 0
    while total > goal and given < count:
        total -= gains[given]
        given += 1
    return (count + 15 * given) / (16 * count)


def grid_rays(fotolume, scene, size, options):
    """Primary and anti-aliasing rays of one render, from --stats."""
    width, height = size.split("x")
    command = [fotolume, "--stats", "-t", "1"] + options + [scene, os.devnull, width, height]
    err = subprocess.run(command, stderr=subprocess.PIPE, check=True).stderr.decode()
    words = next(line for line in err.splitlines() if line.strip().startswith("rays:")).split()
    return int(words[1]) + int(words[3])


def report(args, ours, theirs, scene, thresholds):
    """Measures and prints one scene; returns its summary entry."""
    print("\n%s" % os.path.relpath(scene, ROOT))
    print("  %-8s %-14s %8s %8s %8s %7s" % ("", "", "error", "/ full", "CPU s", "/ full"))
    mine = measure(ours, scene, ["--samples", "16", "--aa-threshold", "0"],
                   fotolume_variants(thresholds), args.runs, args.cache)
    table(ours.name, mine)
    pov = None
    if theirs:
        pov = measure(theirs, scene, ["+A0.0", "+AM1", "+R9"], pov_variants(), args.runs,
                      args.cache)
        table(theirs.name, pov)
    best = thriftiest(pov, args.target) if pov else None
    default = (mine[2][1] / mine[1][1], mine[2][2] / mine[1][2])
    verdict = ""
    if pov:
        ok = default[0] <= args.target and best and default[1] <= best[2]
        verdict = "; POV-Ray's thriftiest within %.2fx: %s" % (
            args.target, "%s, %.2fx at %.2f" % best if best else "none")
        verdict += " -> %s" % ("met" if ok else "MISSED")
    print("  default: %.2fx the full grid's error at %.2f of its CPU%s" % (default + (verdict,)))
    full_rays = grid_rays(args.fotolume, scene, args.size, fotolume_variants([])[1][1])
    rule_rays = grid_rays(args.fotolume, scene, args.size, ["--samples", "4"])
    print("  bound at %.2fx: an oracle traces %.2f of the full grid's rays; the default "
          "%.2f" % (args.target, oracle(mine[0][3], mine[1][3], mine[0][4], args.target),
                    rule_rays / full_rays))
    return os.path.relpath(scene, os.path.join(ROOT, "bench", "scenes")), mine, pov, best


def summarize(summary, target):
    print("\n| scene | fotolume: full 4x4 CPU | default: error, CPU | POV-Ray: full 4x4 CPU "
          "| thriftiest within %.2fx |" % target)
    print("|---|---|---|---|---|")
    for name, mine, pov, best in summary:
        line = "| %s | %.3f s | %.2fx, %.2f |" % (name, mine[1][2], mine[2][1] / mine[1][1],
                                                 mine[2][2] / mine[1][2])
        if pov:
            line += " %.3f s | %s |" % (pov[1][2], "%s: %.2fx, %.2f" % best if best else "none")
        print(line)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--fotolume", default=os.path.join(ROOT, "build/release/src/fotolume"))
    parser.add_argument("--povray", default=shutil.which("povray"))
    parser.add_argument("--size", default="480x360")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--thresholds", default="")
    parser.add_argument("--target", type=float, default=1.15)
    parser.add_argument("--cache", help="a folder to keep the references in between runs")
    parser.add_argument("scenes", nargs="*")
    args = parser.parse_args()
    scenes = args.scenes or [os.path.join(ROOT, "bench", "scenes", name) for name in SCENES]
    thresholds = list(filter(None, args.thresholds.split(",")))
    print("size %s; error: mean absolute byte difference from each renderer's own finest "
          "grid; CPU: median of %d single-thread runs; x: share of the same renderer's "
          "full 4x4 grid" % (args.size, args.runs))
    if not args.povray:
        print("note: povray is not installed, so its rows are left out "
              "(Debian: apt-get install povray)")
    with tempfile.TemporaryDirectory() as tmp:
        ours = Fotolume(args.fotolume, args.size, tmp)
        theirs = PovRay(args.povray, args.size, tmp) if args.povray else None
        summary = [report(args, ours, theirs, scene, thresholds) for scene in scenes]
    summarize(summary, args.target)


if __name__ == "__main__":
    main()
