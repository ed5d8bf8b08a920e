#!/usr/bin/env python3
"""Writes sdk/matchlib/keypoint/descriptor_patterns.cpp: the sampling
patterns and seed tables of the keypoint bit descriptors.

Rule (deterministic, so the bytes and hence the pattern ids never change):
- A pattern is a list of pairs {dx1, dy1, dx2, dy2} of signed bytes. Its
  fixed pairs (the first three, and for most types the last) are kept as
  given below.
- Learned patterns (types 0x10 and 0x2, the descriptors of the small-sensor
  engines of algorithm modes 3 and 4): the other pairs are read, in order,
  from scripts/descriptor_patterns/<type>.txt, which bench program
  descriptor_pattern_fit writes from prints (see its header for the
  procedure; the commands are in the files' first lines). The pairs are
  checked against the rules below (bounds, even offsets, no repeat or
  swapped repeat, not a fixed pair).
- Drawn patterns (the other types): every other pair is drawn from a 32-bit linear congruential
  generator x = x * 1664525 + 1013904223 (mod 2**32) seeded with the type
  id: each offset takes (x >> 16) % count as an index into the allowed
  values (even offsets -R..R for the pixel patterns, every offset -7..7 for
  the spectral one).
- A drawn pair is refused when its two points coincide, when it or its
  swapped form is already in the pattern, when either point lies outside
  the disc of radius R + 1 (so that turning never carries it much beyond
  the square bound), and for the spectral pattern when its second point is
  the first point negated (a magnitude spectrum is point-symmetric, so such
  a pair always compares equal).
- Point-symmetric patterns (types 0x20 and 0x800) draw pairs 0..63 only
  (pair 63 being the negation of the given last pair) and take pair 64 + k
  as pair k with all four offsets negated; no drawn pair may equal the
  negation of a pair already drawn, nor have its second point at the
  negation of its first (its mirror pair would be its swap, whose bit is
  the complement).
- A magnitude spectrum is point-symmetric, so in the spectral pattern a
  point and its negation sample the same value: a drawn pair is refused
  when either point, negated or not, in either order, repeats a pair
  already in the pattern (such a pair would give the same bit or its
  complement), and no drawn point is the centre cell (frequency 0, the
  mean brightness, which says nothing of the ridges).
- Seed tables are (x >> 24) of the same generator seeded with 0x5EED0000
  plus the table's length.

Run it from the repository root; the output is committed. With --drawn it
writes every pattern by the drawing rule (the starting point from which
descriptor_pattern_fit learns; see docs/accuracy-small-sensors.md).
"""

import os
import sys

OUT = "sdk/matchlib/keypoint/descriptor_patterns.cpp"
LEARNED = "scripts/descriptor_patterns"


DRAWN_ONLY = "--drawn" in sys.argv[1:]


def learned_pairs(type_id):
    """The learned pairs of a type, or None when it has none (or --drawn)."""
    if DRAWN_ONLY:
        return None
    path = os.path.join(LEARNED, f"0x{type_id:x}.txt")
    if not os.path.exists(path):
        return None
    out = []
    with open(path) as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                out.append(tuple(int(v) for v in line.split()))
    return out


class Lcg:
    def __init__(self, seed):
        self.x = seed & 0xFFFFFFFF

    def next(self):
        self.x = (self.x * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.x


def pattern(type_id, pairs, bound, first, last, symmetric=False, spectral=False):
    values = list(range(-bound, bound + 1)) if spectral else list(range(-bound, bound + 1, 2))
    rng = Lcg(type_id)
    drawn = int(pairs / 2) if symmetric else pairs
    out = list(first)
    tail = []
    if last is not None:
        tail = [tuple(-v for v in last)] if symmetric else [last]
    seen = set()

    def key_forms(p):
        a, b = p[:2], p[2:]
        forms = {a + b, b + a}
        if symmetric:
            n = tuple(-v for v in p)
            forms |= {n, n[2:] + n[:2]}
        if spectral:
            na, nb = (-a[0], -a[1]), (-b[0], -b[1])
            for x in (a, na):
                for y in (b, nb):
                    forms |= {x + y, y + x}
        return forms

    for p in out + tail:
        seen |= key_forms(p)
    limit = (bound + 1) ** 2
    learned = learned_pairs(type_id)
    if learned is not None:
        for p in learned:
            assert len(p) == 4 and all(abs(v) <= bound and v % 2 == 0 for v in p), p
            assert p[:2] != p[2:] and not (key_forms(p) & seen), p
            seen |= key_forms(p)
        out += learned
        assert len(out) + len(tail) == drawn, (type_id, len(out))
    while len(out) + len(tail) < drawn:
        p = tuple(values[(rng.next() >> 16) % len(values)] for _ in range(4))
        if p[:2] == p[2:]:
            continue
        if p[0] ** 2 + p[1] ** 2 > limit or p[2] ** 2 + p[3] ** 2 > limit:
            continue
        if spectral and ((p[2], p[3]) == (-p[0], -p[1]) or (0, 0) in (p[:2], p[2:])):
            continue
        if symmetric and (p[2], p[3]) == (-p[0], -p[1]):
            continue
        if key_forms(p) & seen:
            continue
        seen |= key_forms(p)
        out.append(p)
    out += tail
    if symmetric:
        out += [tuple(-v for v in p) for p in out]
    assert len(out) == pairs
    return out


def seeds(length):
    rng = Lcg(0x5EED0000 + length)
    return [rng.next() >> 24 for _ in range(length)]


TYPES = [
    ("kPattern2", 0x2, 128, 14, [(-6, -10, -6, 12), (0, 8, 10, 8), (-10, -8, 6, -12)], (-4, -6, 4, -6), False, False),
    ("kPattern20", 0x20, 128, 14, [(-2, -12, 10, 4), (2, 10, 12, 0), (2, 8, 2, -10)], (-4, -6, 4, 6), True, False),
    ("kPattern200", 0x200, 128, 16, [(-6, -10, 10, 8), (-12, -8, 8, -2), (10, -2, 10, 10)], (-2, -2, 10, 0), False, False),
    ("kPattern1000", 0x1000, 128, 16, [(-2, 8, -2, 12), (-2, 10, 6, 12), (-2, -6, 6, -6)], (-4, 0, 4, 0), False, False),
    ("kPattern400", 0x400, 128, 12, [(4, -2, 4, 2), (-4, -2, -4, 2), (-10, -4, 2, -10)], (4, -4, 10, 0), False, False),
    ("kPattern800", 0x800, 128, 16, [(0, 16, -8, 6), (4, 14, -14, -6), (2, 14, -14, -2)], (-4, 2, 4, 2), True, False),
    ("kPattern10", 0x10, 64, 16, [(-14, -2, -14, 2), (6, -14, 6, -10), (-4, -6, 4, -8)], (-2, -8, -2, 8), False, False),
    ("kPattern8", 0x8, 128, 14, [(-6, -10, -6, -6), (2, -10, 4, 4), (-8, -6, -6, 2)], (-10, 0, 12, 0), False, False),
    ("kPattern2000", 0x2000, 128, 7, [(2, 3, 4, -2), (-4, -5, -2, -6), (-2, -1, 2, -1)], None, False, True),
]


def table(name, values, per_line=16):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append("    " + ", ".join(str(v) for v in values[i:i + per_line]) + ",")
    return lines


def main():
    text = [
        "// Sampling patterns and seed tables of the keypoint bit descriptors.",
        "// Generated by scripts/descriptor_patterns.py, which documents the rule;",
        "// do not edit by hand (the pattern ids are the CRC-32 of these bytes).",
        "//",
        "// Types 0x10 and 0x2 (the descriptors of algorithm modes 3 and 4) are",
        "// learned from prints by bench/descriptor_pattern_fit: keypoints of every",
        "// two impressions of a finger are put in correspondence under the engine's",
        "// own alignment, and beside the given pairs the pattern takes, one at a",
        "// time, the offset pair (even offsets within the bound, no repeat, no",
        "// swapped repeat, bit set on 10-90 % of points) that most raises the mean",
        "// over the deviation of the descriptor distance margin (non-corresponding",
        "// minus corresponding point), from a pool of the 3000 pairs that tell",
        "// corresponding points best on their own. Fitted on fvc2000-db1b-160,",
        "// fvc2000-db3b-160, fvc2002-db4b-160 and fvc2004-db3b-500dpi-160 (mode 4",
        "// on their 96 x 96 centres). The other types are drawn by a fixed",
        "// generator under the same rules.",
        '#include "matchlib/keypoint/descriptor_patterns.h"',
        "",
        "namespace zyl::matchlib {",
        "",
    ]
    for name, tid, pairs, bound, first, last, sym, spec in TYPES:
        p = pattern(tid, pairs, bound, first, last, sym, spec)
        flat = [v for q in p for v in q]
        text.append(f"// Type 0x{tid:x}: {pairs} pairs {{dx1, dy1, dx2, dy2}}, offsets within -{bound}..{bound}.")
        text.append(f"const std::int8_t {name}[{len(flat)}] = {{")
        text += table(name, flat)
        text.append("};")
        text.append("")
    for name, n in (("kSeedPairs", 143), ("kSeedRotated", 135), ("kSeedSpectral", 143)):
        text.append(f"const std::uint8_t {name}[{n}] = {{")
        text += table(name, seeds(n))
        text.append("};")
        text.append("")
    text.append("}  // namespace zyl::matchlib")
    with open(OUT, "w") as f:
        f.write("\n".join(text) + "\n")


if __name__ == "__main__":
    sys.exit(main())
