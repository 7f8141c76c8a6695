#!/usr/bin/env python3
"""Generate the scenes that are too long to write by hand.

Usage: make_scenes.py   (writes scenes/mesh.txt, scenes/smooth.txt and bench/scenes/*.txt)
The output is deterministic; rerun it after changing this file.
"""
import math
import os
import random

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def fmt(*values):
    return " ".join(f"{v:.4f}".rstrip("0").rstrip(".") if isinstance(v, float) else str(v)
                    for v in values)


def write(path, camera, lights, pigments, finishes, objects):
    lines = [fmt(*camera[0]), fmt(*camera[1]), fmt(*camera[2]), fmt(camera[3])]
    lines.append(str(len(lights)))
    lines += [fmt(*l) for l in lights]
    lines.append(str(len(pigments)))
    lines += pigments
    lines.append(str(len(finishes)))
    lines += [fmt(*f) for f in finishes]
    lines.append(str(len(objects)))
    lines += objects
    assert len(lights) <= 10 and len(pigments) <= 20 and len(finishes) <= 50 and len(objects) <= 200
    with open(os.path.join(ROOT, path), "w") as out:
        out.write("\n".join(lines) + "\n")


def icosphere(centre, radius, subdivisions):
    verts, faces = indexed_icosphere(subdivisions)
    return [[tuple(centre[i] + radius * verts[k][i] for i in range(3)) for k in f] for f in faces]


def indexed_icosphere(subdivisions):
    """Unit vertices and faces (vertex numbers) of a subdivided icosahedron."""
    t = (1 + 5 ** 0.5) / 2
    verts = [(-1, t, 0), (1, t, 0), (-1, -t, 0), (1, -t, 0), (0, -1, t), (0, 1, t),
             (0, -1, -t), (0, 1, -t), (t, 0, -1), (t, 0, 1), (-t, 0, -1), (-t, 0, 1)]
    faces = [(0, 11, 5), (0, 5, 1), (0, 1, 7), (0, 7, 10), (0, 10, 11), (1, 5, 9), (5, 11, 4),
             (11, 10, 2), (10, 7, 6), (7, 1, 8), (3, 9, 4), (3, 4, 2), (3, 2, 6), (3, 6, 8),
             (3, 8, 9), (4, 9, 5), (2, 4, 11), (6, 2, 10), (8, 6, 7), (9, 8, 1)]
    verts = [tuple(c / math.sqrt(sum(x * x for x in v)) for c in v) for v in verts]
    for _ in range(subdivisions):
        cache, new_faces = {}, []

        def mid(a, b):
            key = tuple(sorted((a, b)))
            if key not in cache:
                m = [(verts[a][i] + verts[b][i]) / 2 for i in range(3)]
                n = math.sqrt(sum(x * x for x in m))
                verts.append(tuple(x / n for x in m))
                cache[key] = len(verts) - 1
            return cache[key]
        for a, b, c in faces:
            ab, bc, ca = mid(a, b), mid(b, c), mid(c, a)
            new_faces += [(a, ab, ca), (b, bc, ab), (c, ca, bc), (ab, bc, ca)]
        faces = new_faces
    return verts, faces


def torus(centre, major, minor, around, across):
    def point(i, j):
        u, v = 2 * math.pi * i / around, 2 * math.pi * j / across
        r = major + minor * math.cos(v)
        return (centre[0] + r * math.cos(u), centre[1] + minor * math.sin(v),
                centre[2] + r * math.sin(u))
    tris = []
    for i in range(around):
        for j in range(across):
            a, b = point(i, j), point(i + 1, j)
            c, d = point(i + 1, j + 1), point(i, j + 1)
            tris += [(a, b, c), (a, c, d)]
    return tris


def mesh_row(pigment, finish, points, faces, normals=None):
    """A mesh row, or a smooth one with a normal a vertex: one vertex a line."""
    word = "smooth" if normals else "mesh"
    lines = [fmt(pigment, finish) + f" {word} {len(points)}"]
    for k, p in enumerate(points):
        lines.append("  " + fmt(*p) + ("  " + fmt(*normals[k]) if normals else ""))
    lines.append(f"  {len(faces)}")
    lines += ["  " + fmt(*f) for f in faces]
    return "\n".join(lines)


def smooth_scene():
    """A smooth sphere and the same faces flat behind it in one place (the
    earlier row wins every tie), a flat torus, a mirror, a sphere, a floor."""
    verts, faces = indexed_icosphere(2)
    centre, radius = (-1.2, 0.3, 0), 1.1
    points = [tuple(centre[i] + radius * v[i] for i in range(3)) for v in verts]
    normals = [tuple(v) for v in verts]
    ring = []
    around, across = 24, 12
    for i in range(around):
        for j in range(across):
            u, v = 2 * math.pi * i / around, 2 * math.pi * j / across
            r = 0.7 + 0.25 * math.cos(v)
            ring.append((1.5 + r * math.cos(u), -0.2 + 0.25 * math.sin(v), 0.6 + r * math.sin(u)))
    ring_faces = []
    for i in range(around):
        for j in range(across):
            a, b = i * across + j, (i + 1) % around * across + j
            c, d = (i + 1) % around * across + (j + 1) % across, i * across + (j + 1) % across
            ring_faces += [(a, b, c), (a, c, d)]
    objects = ["0 0 disc 0 -1 0 20 0 1 0",
               mesh_row(1, 1, points, faces, normals),
               mesh_row(2, 1, points, faces),
               mesh_row(2, 1, ring, ring_faces),
               "3 2 sphere 0.3 -0.4 2.2 0.5",
               "3 2 triangle -3 -1 -2.5  3 -1 -2.5  0 3 -3"]
    write("scenes/smooth.txt",
          [(0, 1.4, 6.5), (0, 0, 0), (0, 1, 0), 42.0],
          [(0, 0, 0, .2, .2, .2, 1, 0, 0), (-4, 6, 5, .9, .9, .9, 1, 0, 0),
           (5, 3, 3, .3, .3, .35, 1, 0, 0)],
          ["checker 0.9 0.9 0.9 0.3 0.35 0.45 0.6", "solid 0.85 0.5 0.3", "solid 0.3 0.75 0.9",
           "solid 1 1 1"],
          [(1, .8, .2, 20, 0, 0, 1), (1, .7, .5, 80, .1, 0, 1), (.1, .1, .8, 200, .9, 0, 1)],
          objects)


def tri(pigment, finish, t):
    return fmt(pigment, finish) + " triangle " + "  ".join(fmt(*p) for p in t)


def mesh_scene():
    objects = ["0 0 disc 0 -1 0 20 0 1 0"]
    objects += [tri(1, 1, t) for t in icosphere((-1.3, 0.2, 0), 1.2, 1)]
    objects.append("2 2 sphere 1.6 -0.1 0.4 0.9")
    write("scenes/mesh.txt",
          [(0, 1.5, 6.5), (0, 0, 0), (0, 1, 0), 42.0],
          [(0, 0, 0, .2, .2, .2, 1, 0, 0), (-4, 6, 5, .9, .9, .9, 1, 0, 0),
           (5, 3, 3, .3, .3, .35, 1, 0, 0)],
          ["gradient 0 0 0  3 0 2  0.95 0.9 0.8  0.5 0.6 0.75",
           "solid 0.3 0.75 0.9", "solid 1 1 1"],
          [(1, .8, .2, 20, 0, 0, 1), (1, .7, .5, 80, .1, 0, 1), (.1, .1, .8, 200, .9, 0, 1)],
          objects)


def bench_spheres():
    rnd = random.Random(7)
    objects = ["0 0 disc 0 -1 0 40 0 1 0"]
    for i in range(12):
        for j in range(12):
            x, z = -11 + 2 * i + rnd.uniform(-.3, .3), -22 + 2 * j + rnd.uniform(-.3, .3)
            r = rnd.uniform(.35, .8)
            kind = rnd.random()
            finish = 2 if kind < .06 else 3 if kind < .12 else 1
            pigment = 1 + (i * 12 + j) % 4
            objects.append(fmt(pigment, finish) + " sphere " + fmt(x, -1 + r, z, r))
    write("bench/scenes/spheres.txt",
          [(0, 4, 6), (0, 0, -8), (0, 1, 0), 55.0],
          [(0, 0, 0, .15, .15, .15, 1, 0, 0), (-10, 12, 6, .8, .8, .8, 1, 0, 0),
           (12, 8, -4, .4, .4, .45, 1, 0, 0)],
          ["checker 0.9 0.9 0.9 0.2 0.25 0.3 1.5", "solid 0.9 0.2 0.2", "solid 0.2 0.8 0.3",
           "solid 0.2 0.3 0.9", "gradient 0 0 0 0 0 3 1 0.8 0.1 0.6 0.1 0.8"],
          [(1, .8, .1, 10, .1, 0, 1), (.9, .7, .4, 40, 0, 0, 1), (.05, .1, .9, 300, .9, 0, 1),
           (0, 0, .9, 300, .05, .9, 1.5)],
          objects)


def bench_mesh():
    objects = ["0 0 disc 0 -1 0 30 0 1 0"]
    objects += [tri(1 + k % 2, 1, t) for k, t in enumerate(torus((0, 0.2, 0), 1.6, 0.6, 15, 6))]
    objects.append("3 2 sphere 0 0.2 0 0.7")
    write("bench/scenes/mesh.txt",
          [(0, 3.2, 5.2), (0, 0, 0), (0, 1, 0), 45.0],
          [(0, 0, 0, .2, .2, .2, 1, 0, 0), (-4, 7, 4, .8, .8, .8, 1, 0, 0),
           (5, 4, -2, .4, .4, .4, 1, 0, 0)],
          ["checker 0.85 0.85 0.85 0.3 0.3 0.3 0.8", "solid 0.9 0.5 0.1", "solid 0.2 0.5 0.9",
           "solid 1 1 1"],
          [(1, .8, .2, 20, 0, 0, 1), (1, .7, .5, 60, .15, 0, 1), (.1, .1, .8, 200, .8, 0, 1)],
          objects)


def bench_recursion():
    objects = ["0 0 disc 0 -1 0 8 0 1 0",
               "1 1 disc -3.2 0 0 6 1 0 0.1", "1 1 disc 3.2 0 0 6 -1 0 0.1",
               "1 1 disc 0 0 -3.5 6 0 0 1"]
    spheres = [(-1.2, -.3, -.5, .7, 2), (1.2, -.3, -.8, .7, 2), (0, -.4, .8, .6, 3),
               (0, .9, -1.5, .6, 1), (-1.8, .8, 1, .4, 3), (1.8, .8, 1, .4, 2)]
    objects += [fmt(2 + k % 2, f) + " sphere " + fmt(x, y, z, r)
                for k, (x, y, z, r, f) in enumerate(spheres)]
    write("bench/scenes/recursion.txt",
          [(0, .6, 5), (0, 0, -1), (0, 1, 0), 55.0],
          [(0, 0, 0, .1, .1, .1, 1, 0, 0), (0, 3, 3, .5, .5, .5, 1, 0, 0),
           (-2.5, 2, 1, .4, .2, .2, 1, .1, 0), (2.5, 2, 1, .2, .2, .4, 1, .1, 0),
           (0, 2.5, -2.5, .3, .3, .3, 1, 0, 0)],
          ["checker 0.8 0.8 0.8 0.15 0.15 0.15 0.5", "solid 0.9 0.9 0.9", "solid 0.9 0.4 0.2",
           "solid 0.3 0.6 0.9"],
          [(1, .7, .2, 20, .2, 0, 1), (.05, .1, .8, 200, .9, 0, 1), (0, 0, .9, 300, .1, .9, 1.5),
           (0, 0, .9, 300, .3, .7, 1.33)],
          objects)


if __name__ == "__main__":
    mesh_scene()
    smooth_scene()
    bench_spheres()
    bench_mesh()
    bench_recursion()
