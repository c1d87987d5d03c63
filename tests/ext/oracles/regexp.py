#!/usr/bin/env python3
"""Random regular expressions and subjects, answered by Python's re.

Writes tests/ext/regexp_vectors.inc (C++ initializers {pattern, subject, bNoCase, bMatch})
for tests/ext/regexp_test.cpp:

    python3 tests/ext/oracles/regexp.py > tests/ext/regexp_vectors.inc

Patterns stay inside the subset both engines read the same way: literals (ASCII, two-, three-
and four-byte UTF-8 characters, escaped metacharacters, \\xNN and \\uNNNN), '.', classes with
ranges and negation, \\d \\w \\s \\D \\W \\S \\b, groups, alternation, one quantifier per atom
(*, +, ?, {m}, {m,n}, {m,}, {,n}), '^' and '$'.  Python runs with re.ASCII (ASCII \\w, \\d, \\s
and case folding) and re.DOTALL ('.' takes newlines); our '$' only holds at the very end, so it
is given to Python as \\Z.  About a third of the subjects are built to match (sampled from the
pattern), then mutated, so both answers turn up often.
"""
import random
import re
import sys

SEED = 20261210
N_PATTERNS = 320
SUBJECTS_PER_PATTERN = 4

LITERALS = ["a", "b", "c", "x", "A", "B", "1", "2", " ", "_", "-", "é", "€", "😀", "\t"]
ESCAPED = {".": r"\.", "*": r"\*", "(": r"\(", ")": r"\)", "[": r"\[", "+": r"\+", "?": r"\?",
           "$": r"\$", "^": r"\^", "{": r"\{", "|": r"\|", "\\": "\\\\", "}": r"\}", "]": r"\]"}
CLASS_CHARS = ["a", "b", "c", "x", "1", "2", "_", " ", "é", "€"]
RANGES = [("a", "c"), ("0", "5"), ("b", "x"), ("à", "é"), ("A", "C")]
SUBJECT_ALPHABET = ["a", "b", "c", "x", "y", "A", "B", "C", "1", "2", "7", " ", "_", "-", ".", "é",
                    "É", "€", "😀", "\t", "\n", "*", "("]
SHORTHANDS = {"d": lambda r: r.choice("0123456789"),
              "w": lambda r: r.choice("abcXYZ019_"),
              "s": lambda r: r.choice(" \t\n\r\f\v"),
              "D": lambda r: r.choice("ab -é€"),
              "W": lambda r: r.choice(" -.é€\n"),
              "S": lambda r: r.choice("abc1_.é")}


class Node:
    """One piece of a pattern: ours() and py() give its text, sample() a string it matches."""


class Lit(Node):
    def __init__(self, ch, form):
        self.ch, self.form = ch, form

    def ours(self):
        return self.form

    def py(self):
        return self.form

    def sample(self, r):
        return self.ch


class AnyChar(Node):
    def ours(self):
        return "."

    def py(self):
        return "."

    def sample(self, r):
        return r.choice(SUBJECT_ALPHABET)


class Shorthand(Node):
    def __init__(self, letter):
        self.letter = letter

    def ours(self):
        return "\\" + self.letter

    def py(self):
        return "\\" + self.letter

    def sample(self, r):
        return SHORTHANDS[self.letter](r)


class CharClass(Node):
    def __init__(self, r):
        self.neg = r.random() < 0.3
        self.members = []
        for _ in range(r.randint(1, 3)):
            if r.random() < 0.35:
                self.members.append(r.choice(RANGES))
            elif r.random() < 0.15:
                self.members.append(r.choice(["\\]", "\\\\", "\\.", "\\*", "\\["]))
            else:
                self.members.append(r.choice(CLASS_CHARS))
        # '^' first would negate; ']' first is a member in both, but keep it simple.

    def text(self):
        out = []
        for m in self.members:
            out.append(m[0] + "-" + m[1] if isinstance(m, tuple) else m)
        return "[" + ("^" if self.neg else "") + "".join(out) + "]"

    def ours(self):
        return self.text()

    def py(self):
        return self.text()

    def sample(self, r):
        if self.neg:
            return r.choice(["y", "Z", "9", "€", "😀", "-", "\n"])
        m = r.choice(self.members)
        if isinstance(m, tuple):
            return chr(r.randint(ord(m[0]), ord(m[1])))
        return m[-1]


class Boundary(Node):
    def ours(self):
        return r"\b"

    def py(self):
        return r"\b"

    def sample(self, r):
        return ""


class Group(Node):
    def __init__(self, alt):
        self.alt = alt

    def ours(self):
        return "(" + self.alt.ours() + ")"

    def py(self):
        return "(" + self.alt.py() + ")"

    def sample(self, r):
        return self.alt.sample(r)


class Repeat(Node):
    def __init__(self, atom, lo, hi, form):
        self.atom, self.lo, self.hi, self.form = atom, lo, hi, form

    def ours(self):
        return self.atom.ours() + self.form

    def py(self):
        return self.atom.py() + self.form

    def sample(self, r):
        hi = self.hi if self.hi is not None else self.lo + 3
        return "".join(self.atom.sample(r) for _ in range(r.randint(self.lo, hi)))


class Seq(Node):
    def __init__(self, items, anchor_end=False, anchor_start=False):
        self.items, self.anchor_end, self.anchor_start = items, anchor_end, anchor_start

    def ours(self):
        return (("^" if self.anchor_start else "") + "".join(i.ours() for i in self.items) +
                ("$" if self.anchor_end else ""))

    def py(self):
        return (("^" if self.anchor_start else "") + "".join(i.py() for i in self.items) +
                (r"\Z" if self.anchor_end else ""))

    def sample(self, r):
        return "".join(i.sample(r) for i in self.items)


class Alt(Node):
    def __init__(self, seqs):
        self.seqs = seqs

    def ours(self):
        return "|".join(s.ours() for s in self.seqs)

    def py(self):
        return "|".join(s.py() for s in self.seqs)

    def sample(self, r):
        return r.choice(self.seqs).sample(r)


def literal(r):
    x = r.random()
    if x < 0.65:
        ch = r.choice(LITERALS)
        return Lit(ch, ch if ch != "\t" else "\\t")
    if x < 0.85:
        ch = r.choice(list(ESCAPED))
        return Lit(ch, ESCAPED[ch])
    if x < 0.93:
        ch = r.choice("aZ-~")
        return Lit(ch, "\\x%02x" % ord(ch) if r.random() < 0.5 else "\\x%02X" % ord(ch))
    ch = r.choice("aé€Ω")
    return Lit(ch, "\\u%04x" % ord(ch))


def atom(r, depth):
    x = r.random()
    if x < 0.5:
        return literal(r)
    if x < 0.6:
        return AnyChar()
    if x < 0.75:
        return CharClass(r)
    if x < 0.85:
        return Shorthand(r.choice("dwsDWS"))
    if depth < 3:
        return Group(alternation(r, depth + 1))
    return literal(r)


def quantified(r, depth):
    a = atom(r, depth)
    x = r.random()
    if x < 0.6:
        return a
    if x < 0.68:
        return Repeat(a, 0, None, "*")
    if x < 0.76:
        return Repeat(a, 1, None, "+")
    if x < 0.84:
        return Repeat(a, 0, 1, "?")
    m = r.randint(0, 3)
    y = r.random()
    if y < 0.3 and m > 0:
        return Repeat(a, m, m, "{%d}" % m)
    if y < 0.55 and m > 0:
        return Repeat(a, m, None, "{%d,}" % m)
    n = r.randint(max(m, 1), m + 3)
    if y < 0.65 and m == 0:
        return Repeat(a, 0, n, "{,%d}" % n)
    return Repeat(a, m, n, "{%d,%d}" % (m, n))


def sequence(r, depth):
    items = []
    for _ in range(r.randint(0 if depth > 0 else 1, 4 if depth == 0 else 3)):
        if r.random() < 0.08:
            items.append(Boundary())
        else:
            items.append(quantified(r, depth))
    # '^' inside a group or at the front of a later branch holds only at the subject's start.
    return Seq(items, anchor_end=r.random() < 0.1, anchor_start=depth > 0 and r.random() < 0.1)


def alternation(r, depth):
    n = 1 if r.random() < 0.7 else r.randint(2, 3)
    seqs = [sequence(r, depth) for _ in range(n)]
    for seq in seqs[1:]:
        seq.anchor_start = seq.anchor_start or r.random() < 0.1
    return Alt(seqs)


def mutate(r, s):
    s = list(s)
    for _ in range(r.randint(1, 3)):
        op = r.random()
        if op < 0.33 and s:
            del s[r.randrange(len(s))]
        elif op < 0.66:
            s.insert(r.randint(0, len(s)), r.choice(SUBJECT_ALPHABET))
        elif s:
            s[r.randrange(len(s))] = r.choice(SUBJECT_ALPHABET)
    return "".join(s)


def random_subject(r):
    return "".join(r.choice(SUBJECT_ALPHABET) for _ in range(r.randint(0, 12)))


def c_string(s):
    """A C++ literal: UTF-8 kept as is, control bytes as octal, '?' too (no trigraphs)."""
    out = []
    for ch in s:
        if ch in '"\\':
            out.append("\\" + ch)
        elif ord(ch) < 0x20 or ch in "?\x7f":
            out.append("\\%03o" % ord(ch))
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'


def main():
    r = random.Random(SEED)
    rows = []
    n_match = 0
    while len(rows) < N_PATTERNS * SUBJECTS_PER_PATTERN:
        tree = alternation(r, 0)
        anchored = r.random() < 0.15
        ours = ("^" if anchored else "") + tree.ours()
        py = ("^" if anchored else "") + tree.py()
        nocase = r.random() < 0.25
        flags = re.ASCII | re.DOTALL | (re.IGNORECASE if nocase else 0)
        try:
            compiled = re.compile(py, flags)
        except re.error:
            continue
        for k in range(SUBJECTS_PER_PATTERN):
            if k == 0:
                s = tree.sample(r)
            elif k == 1:
                s = mutate(r, tree.sample(r))
            elif k == 2:
                s = random_subject(r) + tree.sample(r) + random_subject(r)
            else:
                s = random_subject(r)
            if nocase:
                s = "".join(ch.swapcase() if r.random() < 0.5 else ch for ch in s)
            s = s.replace("\0", "")
            hit = compiled.search(s) is not None
            n_match += hit
            rows.append("    {%s, %s, %d, %d}," % (c_string(ours), c_string(s), nocase, hit))
    print("// Generated by tests/ext/oracles/regexp.py (seed %d) with Python's re as the" % SEED)
    print("// oracle; %d of %d cases match.  Regenerate with" % (n_match, len(rows)))
    print("//   python3 tests/ext/oracles/regexp.py > tests/ext/regexp_vectors.inc")
    print("// Fields: pattern, subject, case-insensitive, expected match.")
    for row in rows:
        print(row)


if __name__ == "__main__":
    main()
