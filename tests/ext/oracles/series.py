#!/usr/bin/env python3
"""Expected results of generate_series queries, with Python's range as the oracle.

Writes tests/ext/series_vectors.inc (the rows each query must return, in order):
    python3 tests/ext/oracles/series.py > tests/ext/series_vectors.inc

generate_series(START, STOP, STEP) yields the members of range(START, STOP + 1, |STEP|),
in descending order when STEP is negative, unless the query orders by value itself.
STOP defaults to 4294967295 and STEP to 1; a STEP of 0 counts as 1; a NULL argument
gives no rows.  Members never wrap around the 64-bit range: the series ends instead.
"""
import itertools

MAX = 2**63 - 1
MIN = -(2**63)
DEFAULT_STOP = 0xFFFFFFFF
GUARD = 5000  # longest series the tests read without a LIMIT


def literal(v):
    if v is None:
        return "NULL"
    if v == MIN:
        return "(-9223372036854775807-1)"
    return str(v)


def members(args):
    """The series in the order the function yields it, as a lazy sequence."""
    if any(a is None for a in args):
        return range(0)
    start = args[0]
    stop = args[1] if len(args) > 1 else DEFAULT_STOP
    step = args[2] if len(args) > 2 else 1
    if step == 0:
        step = 1
    r = range(start, stop + 1, abs(step))
    return r[::-1] if step < 0 else r


PREDICATES = {
    None: (None, lambda v: True),
    "gt": ("value > {}", lambda v, x: v > x),
    "le": ("value <= {}", lambda v, x: v <= x),
    "eq": ("value = {}", lambda v, x: v == x),
    "odd": ("value % 2 <> 0", lambda v: v % 2 != 0),
    "in": ("value IN (4, 7, 8, 10, 98)", lambda v: v in (4, 7, 8, 10, 98)),
}


def expected(args, order=None, where=None, limit=None, offset=0):
    seq = members(args)
    if order == "ASC":
        seq = sorted_lazy(seq, False)
    elif order == "DESC":
        seq = sorted_lazy(seq, True)
    if where is not None:
        kind, *params = where
        test = PREDICATES[kind][1]
        seq = (v for v in seq if test(v, *params))
    if limit is None:
        out = list(itertools.islice(seq, GUARD + 1))
        assert len(out) <= GUARD, ("series too long to read without a LIMIT", args)
        return out[offset:]
    return list(itertools.islice(seq, offset, offset + limit))


def sorted_lazy(seq, descending):
    # seq is a range, ascending or descending: reversing is enough.
    ascending = seq if seq.step > 0 else seq[::-1]
    return ascending[::-1] if descending else ascending


def query(args, order=None, where=None, limit=None, offset=0):
    sql = "SELECT value FROM generate_series(" + ", ".join(literal(a) for a in args) + ")"
    if where is not None:
        kind, *params = where
        sql += " WHERE " + PREDICATES[kind][0].format(*params)
    if order is not None:
        sql += " ORDER BY value " + order
    if limit is not None:
        sql += " LIMIT %d" % limit
        if offset:
            sql += " OFFSET %d" % offset
    return sql


# Series short enough to read whole, in every order.
SMALL = [
    (1, 5), (1, 10, 3), (10, 1), (1, 10, -3), (1, 10, 0), (0, 100, 7), (0, 100, -7),
    (-5, 5), (-10, -1, 4), (-10, -1, -4), (5, 5), (5, 5, -1), (-3, 3, -2), (0, 0, 0),
    (0, -1), (-100, 100, 33), (-100, 100, -33), (7, 3, -2), (1, 2, 1000), (1, 2, -1000),
    (4294967290,), (4294967295,), (4294967296,),
    (None, 5), (1, None), (1, 5, None), (None,), (None, None, None),
]

# Members next to the ends of the 64-bit range, and steps of 2^62 and more: each
# step that would carry past a bound must end the series.
EDGE = [
    (MAX - 10, MAX, 3), (MAX - 10, MAX, -3), (MAX - 10, MAX), (MAX - 2, MAX, 1),
    (MAX - 5, MAX, 2), (MAX, MAX), (MAX, MAX, -1), (MAX, MIN), (MAX, MIN, -1),
    (MIN, MIN + 10, 3), (MIN, MIN + 10, -3), (MIN, MIN + 3), (MIN, MIN), (MIN, MIN, MIN),
    (MIN, MAX, 2**62), (MIN, MAX, -(2**62)), (MIN, MAX, MAX), (MIN, MAX, -MAX),
    (MIN, MAX, MIN), (MIN, 0, MIN), (-1, MAX, MIN), (MIN + 1, MAX, MIN), (0, MAX, MAX),
    (0, MAX, -MAX), (1, MAX, MAX), (-MAX, MAX, MAX), (MIN, -1, MAX), (MIN, MAX, 3 * 2**61),
    (MIN, MAX, -(3 * 2**61)), (MAX - 100, MAX, 7), (MIN, MIN + 100, -7),
    (-(2**62), 2**62, 2**62), (-(2**62), 2**62, -(2**62)), (MAX - 1, MAX, MAX), (MAX, MAX, MIN),
]

# Series far too long to read whole: only their ends, through LIMIT.
HUGE = [
    ((MIN, MAX), None), ((MIN, MAX), "DESC"), ((MIN, MAX, -1), None), ((MIN, MAX, -1), "ASC"),
    ((MIN, MAX, 3), None), ((MIN, MAX, -3), None), ((MIN, MAX, 3), "DESC"), ((0, MAX), "DESC"),
    ((MIN, 0, -5), None), ((-3,), None), ((MIN,), None), ((MAX - 2**40, MAX, -2), None),
]


def cases():
    out = []
    for args in SMALL + EDGE:
        for order in (None, "ASC", "DESC"):
            out.append((query(args, order), expected(args, order)))
    for args, order in HUGE:
        for limit, offset in ((5, 0), (3, 4)):
            out.append((query(args, order, None, limit, offset),
                        expected(args, order, None, limit, offset)))
    # Constraints on value are filtered by the engine after the series yields its rows.
    for args, where in [
        ((1, 10), ("gt", 5)), ((1, 10), ("le", 3)), ((1, 10), ("eq", 7)), ((1, 10), ("eq", 11)),
        ((0, 100, 7), ("in",)), ((0, 100, -7), ("in",)), ((1, 20, -3), ("odd",)),
        ((MAX - 10, MAX, 3), ("gt", MAX - 5)), ((MIN, MIN + 10, -3), ("le", MIN + 5)),
        ((-5, 5), ("odd",)),
    ]:
        for order in (None, "DESC"):
            out.append((query(args, order, where), expected(args, order, where)))
    out.append((query((MIN, MAX), None, ("gt", MIN + 2), 3),
                expected((MIN, MAX), None, ("gt", MIN + 2), 3)))
    return out


def c_int(v):
    return "INT64_MIN" if v == MIN else ("%dLL" % v)


def main():
    print("// Generated by tests/ext/oracles/series.py with Python's range as the oracle; do not edit.")
    print("// Regenerate: python3 tests/ext/oracles/series.py > tests/ext/series_vectors.inc")
    for sql, rows in cases():
        body = ", ".join(c_int(v) for v in rows)
        print('{"%s", {%s}},' % (sql, body))


if __name__ == "__main__":
    main()
