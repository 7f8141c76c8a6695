#!/usr/bin/env python3
"""Write a scene of a bumpy sphere of about N triangles on a checker floor.

Usage: bench/bumpy.py N OUT.txt
A latitude-longitude sphere of radius 1 with a few ripples along its normal,
under two lights; deterministic, so the bench's timings compare run to run.
"""
import math
import sys


def main():
    n, out = int(sys.argv[1]), sys.argv[2]
    rows = max(2, int(math.sqrt(n / 4)))  # rows x 2 rows columns, two triangles a quad
    cols = 2 * rows

    def point(i, j):
        theta = math.pi * i / rows
        phi = 2 * math.pi * j / cols
        r = 1 + 0.05 * math.sin(7 * theta) * math.sin(9 * phi)
        return (r * math.sin(theta) * math.cos(phi), 0.2 + r * math.cos(theta),
                r * math.sin(theta) * math.sin(phi))

    grid = [[point(i, j) for j in range(cols)] for i in range(rows + 1)]
    tris = []
    for i in range(rows):
        for j in range(cols):
            a, b = grid[i][j], grid[i][(j + 1) % cols]
            c, d = grid[i + 1][j], grid[i + 1][(j + 1) % cols]
            if i > 0:
                tris.append((a, b, d))
            if i < rows - 1:
                tris.append((a, d, c))
    with open(out, "w") as f:
        f.write("0 1.2 4.5\n0 0.3 0\n0 1 0\n40\n3\n0 0 0 0.2 0.2 0.2 1 0 0\n"
                "5 8 6 0.8 0.8 0.8 1 0 0\n-6 4 3 0.4 0.4 0.5 1 0 0\n"
                "2\nchecker 0.9 0.9 0.9 0.2 0.3 0.5 0.5\nsolid 0.8 0.55 0.3\n"
                "2\n0.8 0.6 0.2 20 0 0 1\n0.6 0.7 0.6 60 0.1 0 1\n")
        f.write(f"{len(tris) + 1}\n0 0 disc 0 -0.99 0 30 0 1 0\n")
        for t in tris:
            f.write("1 1 triangle " + " ".join(f"{v:.6f}" for p in t for v in p) + "\n")
    print(f"{out}: {len(tris)} triangles", file=sys.stderr)


if __name__ == "__main__":
    main()
