#!/usr/bin/env python3
"""Write a scene of a bumpy sphere of about N triangles on a checker floor.

Usage: bench/bumpy.py N OUT.txt [--form triangles|mesh|smooth]
A latitude-longitude sphere of radius 1 with a few ripples along its normal,
under two lights; deterministic, so the bench's timings compare run to run.
The triangles form (the default) writes a triangle row a face; mesh writes
one mesh row of shared vertices (one at each pole) and faces; smooth adds to
each vertex its direction from the centre as its normal.
"""
import math
import sys

HEADER = ("0 1.2 4.5\n0 0.3 0\n0 1 0\n40\n3\n0 0 0 0.2 0.2 0.2 1 0 0\n"
          "5 8 6 0.8 0.8 0.8 1 0 0\n-6 4 3 0.4 0.4 0.5 1 0 0\n"
          "2\nchecker 0.9 0.9 0.9 0.2 0.3 0.5 0.5\nsolid 0.8 0.55 0.3\n"
          "2\n0.8 0.6 0.2 20 0 0 1\n0.6 0.7 0.6 60 0.1 0 1\n")


def surface(n):
    """Vertices and faces (vertex numbers) of the bumpy sphere."""
    rows = max(2, int(math.sqrt(n / 4)))  # rows x 2 rows columns, two triangles a quad
    cols = 2 * rows

    def point(i, j):
        theta = math.pi * i / rows
        phi = 2 * math.pi * j / cols
        r = 1 + 0.05 * math.sin(7 * theta) * math.sin(9 * phi)
        return (r * math.sin(theta) * math.cos(phi), 0.2 + r * math.cos(theta),
                r * math.sin(theta) * math.sin(phi))

    points = [point(0, 0)]
    index = {}
    for i in range(1, rows):
        for j in range(cols):
            index[i, j] = len(points)
            points.append(point(i, j))
    points.append(point(rows, 0))

    def at(i, j):
        if i == 0:
            return 0
        if i == rows:
            return len(points) - 1
        return index[i, j % cols]

    faces = []
    for i in range(rows):
        for j in range(cols):
            a, b, c, d = at(i, j), at(i, j + 1), at(i + 1, j), at(i + 1, j + 1)
            if i > 0:
                faces.append((a, b, d))
            if i < rows - 1:
                faces.append((a, d, c))
    return points, faces


def main():
    n, out = int(sys.argv[1]), sys.argv[2]
    form = sys.argv[4] if len(sys.argv) > 4 and sys.argv[3] == "--form" else "triangles"
    points, faces = surface(n)
    with open(out, "w") as f:
        f.write(HEADER)
        if form == "triangles":
            f.write(f"{len(faces) + 1}\n0 0 disc 0 -0.99 0 30 0 1 0\n")
            for t in faces:
                f.write("1 1 triangle " + " ".join(f"{v:.6f}" for p in t for v in points[p])
                        + "\n")
        else:
            f.write(f"2\n0 0 disc 0 -0.99 0 30 0 1 0\n1 1 {form} {len(points)}\n")
            for x, y, z in points:
                line = f"{x:.6f} {y:.6f} {z:.6f}"
                if form == "smooth":
                    line += f" {x:.6f} {y - 0.2:.6f} {z:.6f}"
                f.write(line + "\n")
            f.write(f"{len(faces)}\n")
            f.writelines(f"{a} {b} {c}\n" for a, b, c in faces)
    print(f"{out}: {len(faces)} faces ({form})", file=sys.stderr)


if __name__ == "__main__":
    main()
