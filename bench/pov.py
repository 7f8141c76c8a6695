#!/usr/bin/env python3
"""Write a POV-Ray 3.7 scene that does the same work as a fotolume scene.

Usage: bench/pov.py SCENE OUT.pov

The aim is a fair timing, not the same picture: the same objects, one ray
per pixel through each pixel's centre (no antialiasing), the same depth
limit of 5, shadows, and mirror and refracted rays exactly where fotolume
traces them. Light fall-off and the gradient's cosine blend are only
approximated. Meant for the well-formed bench scenes: the file is split at
white space, and a malformed one is refused with a message.
"""
import math
import re
import sys

PI = 3.1415926536  # the program's ten-decimal pi, for the same image plane


class Tokens:
    def __init__(self, text):
        # A '#' starts a comment to the end of its line, read as white space.
        self.words = re.sub(r"#[^\n]*", " ", text).split()
        self.at = 0

    def word(self):
        if self.at >= len(self.words):
            raise ValueError("the scene ends early")
        self.at += 1
        return self.words[self.at - 1]

    def number(self):
        return float(self.word())

    def count(self):
        return int(self.word())

    def vector(self):
        return (self.number(), self.number(), self.number())


def sub(a, b):
    return tuple(x - y for x, y in zip(a, b))


def mul(s, v):
    return tuple(s * x for x in v)


def dot(a, b):
    return sum(x * y for x, y in zip(a, b))


def unit(v):
    return mul(1.0 / math.sqrt(dot(v, v)), v)


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def v3(v):
    return "<%.10g, %.10g, %.10g>" % tuple(v)


def rgb(c, transmit=None):
    if transmit is None:
        return "rgb " + v3(c)
    return "rgbt <%.10g, %.10g, %.10g, %.10g>" % (c[0], c[1], c[2], transmit)


def pigment(p, transmit=None):
    kind = p["kind"]
    if kind == "solid":
        return "pigment { color %s }" % rgb(p["c1"], transmit)
    if kind == "checker":
        return "pigment { checker color %s, color %s scale %.10g }" % (
            rgb(p["c1"], transmit), rgb(p["c2"], transmit), p["size"])
    if kind == "gradient":
        # One period of POV-Ray's `gradient x` spans t = 0..2 along the
        # direction; the colour map samples the cosine blend.
        d = p["direction"]
        u = unit(d)
        v = unit(cross(u, (1.0, 0.0, 0.0) if abs(u[0]) < 0.9 else (0.0, 1.0, 0.0)))
        w = cross(u, v)
        span = mul(2.0 * math.sqrt(dot(d, d)), u)
        stops = []
        for i in range(17):
            x = i / 16.0
            f = (1.0 - math.cos(2.0 * math.pi * x)) * 0.5
            c = tuple((1.0 - f) * a + f * b for a, b in zip(p["c1"], p["c2"]))
            stops.append("[%.6g color %s]" % (x, rgb(c, transmit)))
        matrix = ", ".join("%.10g" % x for row in (span, v, w, p["origin"]) for x in row)
        return "pigment { gradient x color_map { %s } matrix <%s> }" % (" ".join(stops), matrix)
    return "pigment { color %s }" % rgb((0.0, 0.0, 0.0), transmit)  # unknown: black


def light(position, color, attenuation, distance):
    """1 / (a + b d + c d^2) fitted by POV-Ray's 2 / (1 + (d / fd)^p) fade."""
    a, b, c = attenuation
    text = "light_source { %s color %s" % (v3(position), "%s")
    if b == 0.0 and c == 0.0:
        return text % rgb(mul(1.0 / a if a > 0 else 1.0, color)) + " }"
    power = 1 if b * distance >= c * distance * distance else 2
    k = b if power == 1 else c
    if a > 0.0 and k > 0.0:
        return (text % rgb(mul(0.5 / a, color)) +
                " fade_distance %.10g fade_power %d }" % ((a / k) ** (1.0 / power), power))
    total = a + b * distance + c * distance * distance
    return text % rgb(mul(1.0 / total if total > 0 else 1.0, color)) + " }"


def mesh2(o, body):
    """A mesh or smooth row as POV-Ray's mesh2: the same shared vertices
    and faces (and, for smooth, a normal a vertex, indexed as the faces)."""
    def block(name, items, form):
        return "%s { %d,\n%s }" % (name, len(items), ",\n".join(form(x) for x in items))
    parts = [block("vertex_vectors", o["points"], v3)]
    if o["normals"]:
        parts.append(block("normal_vectors", o["normals"], v3))
    parts.append(block("face_indices", o["faces"], lambda f: "<%d, %d, %d>" % f))
    return "mesh2 {\n%s\n%s }" % ("\n".join(parts), body)


def translate(text):
    t = Tokens(text)
    eye, look_at, up, fov = t.vector(), t.vector(), t.vector(), t.number()
    lights = [(t.vector(), t.vector(), t.vector()) for _ in range(t.count())]
    pigments = []
    for _ in range(t.count()):
        p = {"kind": t.word()}
        if p["kind"] == "solid":
            p["c1"] = t.vector()
        elif p["kind"] == "checker":
            p["c1"], p["c2"], p["size"] = t.vector(), t.vector(), t.number()
        elif p["kind"] == "gradient":
            p["origin"], p["direction"], p["c1"], p["c2"] = (
                t.vector(), t.vector(), t.vector(), t.vector())
        pigments.append(p)
    finishes = [[t.number() for _ in range(7)] for _ in range(t.count())]
    objects = []
    for _ in range(t.count()):
        o = {"pigment": t.count(), "finish": t.count(), "kind": t.word()}
        if o["kind"] == "sphere":
            o["a"], o["r"] = t.vector(), t.number()
        elif o["kind"] == "triangle":
            o["a"], o["b"], o["c"] = t.vector(), t.vector(), t.vector()
        elif o["kind"] == "disc":
            o["a"], o["r"], o["b"] = t.vector(), t.number(), t.vector()
        elif o["kind"] in ("mesh", "smooth"):
            o["points"], o["normals"] = [], []
            for _ in range(t.count()):
                o["points"].append(t.vector())
                if o["kind"] == "smooth":
                    o["normals"].append(t.vector())
            o["faces"] = [(t.count(), t.count(), t.count()) for _ in range(t.count())]
        objects.append(o)

    # The camera basis as fotolume builds it; POV-Ray's up and right are
    # the full plane (twice the half-extent vectors).
    back = unit(sub(eye, look_at))
    cam_up = unit(sub(up, mul(dot(up, back), back)))
    right = unit(cross(cam_up, back))
    height = math.tan(fov * PI * (1.0 / 180.0) * 0.5) * 2.0
    out = [
        "#version 3.7;",
        "global_settings { max_trace_level 5 adc_bailout 0 assumed_gamma 1.0 "
        "ambient_light %s }" % rgb(lights[0][1] if lights else (0, 0, 0)),
        "background { color rgb <0.5, 0.5, 0.5> }",
        # The width follows from the image's aspect ratio, set by the caller
        # through image_width / image_height.
        "camera { perspective location %s direction %s up %s right %s * image_width / "
        "image_height }" % (v3(eye), v3(mul(-1.0, back)), v3(mul(height, cam_up)),
                            v3(mul(height, right))),
    ]
    reference = math.sqrt(dot(sub(look_at, eye), sub(look_at, eye)))
    for position, color, attenuation in lights[1:]:
        distance = math.sqrt(dot(sub(position, look_at), sub(position, look_at))) or reference
        out.append(light(position, color, attenuation, max(distance, 1e-6)))
    for o in objects:
        if o["kind"] not in ("sphere", "triangle", "disc", "mesh", "smooth"):
            continue
        ambient, diffuse, specular, shininess, reflection, transmission, ior = finishes[o["finish"]]
        finish = "finish { ambient %.10g diffuse %.10g" % (ambient, diffuse)
        if specular > 0:
            finish += " specular %.10g roughness %.10g" % (
                specular, 1.0 / shininess if shininess >= 1 else 1.0)
        if reflection > 0.001:
            finish += " reflection { %.10g }" % reflection
        finish += " }"
        glass = o["kind"] == "sphere" and transmission > 0.001
        body = pigment(pigments[o["pigment"]], transmission if glass else None) + " " + finish
        if glass:  # fotolume bends by ior on entry: POV-Ray's index 1 / ior
            body += " interior { ior %.10g }" % (1.0 / ior if ior > 0 else 1.0)
        elif transmission > 0.001:
            body += " no_shadow"  # shadow rays pass, nothing refracts
        if o["kind"] == "sphere":
            out.append("sphere { %s, %.10g %s }" % (v3(o["a"]), abs(o["r"]), body))
        elif o["kind"] == "triangle":
            out.append("triangle { %s, %s, %s %s }" % (v3(o["a"]), v3(o["b"]), v3(o["c"]), body))
        elif o["kind"] in ("mesh", "smooth"):
            out.append(mesh2(o, body))
        else:
            out.append("disc { %s, %s, %.10g %s }" % (v3(o["a"]), v3(o["b"]), o["r"], body))
    return "\n".join(out) + "\n"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[2])
    try:
        with open(sys.argv[1]) as scene:
            text = translate(scene.read())
    except (OSError, ValueError, IndexError, ZeroDivisionError) as problem:
        sys.exit("%s: cannot translate: %s" % (sys.argv[1], problem))
    with open(sys.argv[2], "w") as pov:
        pov.write(text)


if __name__ == "__main__":
    main()
