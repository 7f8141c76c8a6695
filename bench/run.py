#!/usr/bin/env python3
"""Time fotolume against POV-Ray 3.7 on the bench scenes.

Usage: bench/run.py [--runs N] [--size WxH] [--fotolume PATH] [SCENE ...]

Renders each scene (default: bench/scenes/*.txt) at 640x480 with fotolume and, through
../shared/peer/to_pov.py, with POV-Ray (one render thread, no antialiasing,
trace level 5; installed with apt-get when missing). Reports the median wall
and CPU (user + system) seconds over the runs and the ratio fotolume / POV-Ray.
Also checks fotolume's image against tests/image/golden.txt where a checksum
for that scene and size is recorded.
"""
import argparse
import glob
import hashlib
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TO_POV = os.path.join(ROOT, "..", "shared", "peer", "to_pov.py")


def timed(command):
    """Run a command; return (wall seconds, CPU seconds of the child)."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    err = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {shlex.join(command)}\n{err}")
    return wall, usage.ru_utime + usage.ru_stime


def median_times(command, runs):
    results = [timed(command) for _ in range(runs)]
    return (statistics.median(r[0] for r in results), statistics.median(r[1] for r in results))


def ensure_povray():
    if shutil.which("povray"):
        return
    print("installing povray ...", file=sys.stderr)
    subprocess.run(["apt-get", "update", "-qq"], check=True)
    subprocess.run(["apt-get", "install", "-y", "-qq", "povray"], check=True,
                   env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def golden(scene, width, height):
    path = os.path.join(ROOT, "tests", "image", "golden.txt")
    rel = os.path.relpath(scene, ROOT)
    for line in open(path):
        fields = line.split()
        if len(fields) == 4 and fields[0] == rel and fields[1:3] == [str(width), str(height)]:
            return fields[3]
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("scenes", nargs="*")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--size", default="640x480")
    parser.add_argument("--fotolume", default=os.path.join(ROOT, "build", "release", "src", "fotolume"))
    args = parser.parse_args()
    width, height = (int(v) for v in args.size.split("x"))
    scenes = args.scenes or sorted(glob.glob(os.path.join(ROOT, "bench", "scenes", "*.txt")))
    if not os.access(args.fotolume, os.X_OK):
        sys.exit(f"{args.fotolume} not found: build first (cmake --workflow --preset test)")
    ensure_povray()

    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        for scene in scenes:
            name = os.path.splitext(os.path.basename(scene))[0]
            image = os.path.join(tmp, name + ".ppm")
            ours = median_times([args.fotolume, scene, image, str(width), str(height)], args.runs)
            digest = hashlib.sha256(open(image, "rb").read()).hexdigest()
            expected = golden(scene, width, height)
            same = "n/a" if expected is None else ("same" if digest == expected else "CHANGED")
            pov_file = os.path.join(tmp, name + ".pov")
            command = subprocess.run(
                [sys.executable, TO_POV, scene, pov_file, str(width), str(height),
                 "--image", os.path.join(tmp, name + "-pov.ppm"), "--quiet"],
                check=True, capture_output=True, text=True).stdout.strip()
            theirs = median_times(shlex.split(command), args.runs)
            rows.append((name, ours, theirs, same))

    print(f"{width}x{height}, median of {args.runs} runs, seconds "
          f"(CPU = user + system of the process)")
    print(f"{'scene':<12} {'fotolume wall':>13} {'CPU':>6} {'POV-Ray wall':>13} {'CPU':>6}"
          f" {'ratio wall':>10} {'ratio CPU':>9}  image")
    for name, (ow, oc), (pw, pc), same in rows:
        print(f"{name:<12} {ow:13.3f} {oc:6.3f} {pw:13.3f} {pc:6.3f} {ow / pw:10.2f} {oc / pc:9.2f}"
              f"  {same}")
    if any(row[3] == "CHANGED" for row in rows):
        sys.exit("an image differs from its recorded checksum")


if __name__ == "__main__":
    main()
