#!/usr/bin/env python3
"""Expected tables of `.import --json`, with Python's json module as the oracle.

Writes tests/unit/import_json_vectors.inc (random JSON documents, one array of objects or
one object per line, and the table each must give):
    python3 tests/unit/oracles/import_json.py > tests/unit/import_json_vectors.inc

A new table has one column per key, in order of first appearance across the document.  A
string, number or null is stored as text, number or NULL; true and false as 1 and 0; an
array or object as its JSON text without blanks.  A key an object lacks is NULL there; of a
repeated key the last value counts.  With --detect-types a column is INTEGER when its
non-null values are integers or booleans, REAL when they are numbers, TEXT otherwise (and
when it has none); the engine's affinity then converts the values.  Without it the columns
have no type and every value keeps its JSON type.
"""
import json
import random

KEYS = ['id', 'name', 'price', 'ok', 'tags', 'note', 'qty', 'meta', 'x y', 'caf\u00e9']


def nested(rng, depth=0):
    if depth > 0 and (depth > 2 or rng.random() < 0.3):
        return rng.choice([1, -2, 3.5, 'abc', '\u00e9t\u00e9', True, None])
    if rng.random() < 0.5:
        return [nested(rng, depth + 1) for _ in range(rng.randrange(0, 3))]
    return {'k%d' % i: nested(rng, depth + 1) for i in range(rng.randrange(0, 3))}


def value(rng, flavour):
    r = rng.random()
    if r < 0.12:
        return None
    if flavour == 'int':
        return rng.choice([0, -1, 2**63 - 1, -2**63, rng.randrange(-10**9, 10**9)])
    if flavour == 'float':
        return rng.choice([rng.uniform(-1e6, 1e6), 1e-5, 1.5e300, -0.0, rng.randrange(100),
                           round(rng.uniform(0, 100), 2)])
    if flavour == 'bool':
        return rng.random() < 0.5
    if flavour == 'str':
        return rng.choice(['', 'plain', 'with "quotes"', 'back\\slash', 'line\nfeed', 'tab\t',
                           '\u00e9\u65e5\U0001F600', '12', '01', 'null', 'ctrl\u0001'])
    if flavour == 'nested':
        return rng.choice([[], {}, [1, 'a'], {'a': {'b': [True, None]}}, nested(rng)])
    return rng.choice([rng.randrange(-50, 50), 'txt', True, [1, 2], None])  # mixed


def document(rng):
    keys = rng.sample(KEYS, rng.randrange(1, 6))
    flavours = {k: rng.choice(['int', 'float', 'bool', 'str', 'nested', 'mixed']) for k in keys}
    objects = []
    for _ in range(rng.randrange(1, 10)):
        ks = [k for k in keys if rng.random() < 0.8] or [keys[0]]
        if rng.random() < 0.3:
            rng.shuffle(ks)
        members = [(k, value(rng, flavours[k])) for k in ks]
        if rng.random() < 0.1:
            members.append((ks[0], value(rng, flavours[ks[0]])))  # a repeated key
        objects.append(members)

    def obj_text(members, indent):
        sep = ', ' if indent else ','
        # The engine keeps a nested value's text as written, escapes included, so
        # only top-level strings are written with escapes.
        body = sep.join('%s:%s' % (json.dumps(k, ensure_ascii=rng.random() < 0.5),
                                   json.dumps(v, ensure_ascii=(rng.random() < 0.5 and
                                                               not isinstance(v, (list, dict))),
                                              separators=(',', ':')))
                        for k, v in members)
        return '{' + body + '}'

    form = rng.randrange(3)
    if form == 0:
        text = '\n'.join(obj_text(m, True) for m in objects) + '\n'
    elif form == 1:
        text = '[' + ','.join(obj_text(m, False) for m in objects) + ']'
    else:
        text = '[\n  ' + ',\n  '.join(obj_text(m, True) for m in objects) + '\n]\n'
    # The oracle's reading of the text.
    if form == 0:
        parsed = [json.loads(line) for line in text.splitlines() if line.strip()]
    else:
        parsed = json.loads(text)
    return text, parsed


def kind(v):
    if v is None:
        return None
    if isinstance(v, bool) or isinstance(v, int):
        return 'int'
    if isinstance(v, float):
        return 'real'
    return 'text'


def declared(values):
    kinds = {kind(v) for v in values} - {None}
    if not kinds or 'text' in kinds:
        return 'TEXT'
    return 'INTEGER' if kinds == {'int'} else 'REAL'


def cell(v, ctype):
    if v is None:
        return 'N'
    if isinstance(v, (list, dict)):
        return 't:' + json.dumps(v, ensure_ascii=False, separators=(',', ':'))
    if isinstance(v, bool):
        v = int(v)
    if ctype == 'REAL' and isinstance(v, int):
        v = float(v)
    if ctype == 'TEXT' and isinstance(v, int):
        return 't:%d' % v
    if isinstance(v, int):
        return 'i:%d' % v
    if isinstance(v, float):
        return 'r:' + v.hex()
    return 't:' + v


def c_literal(s):
    out = '"'
    for c in s.encode('utf-8'):
        if c in (0x22, 0x5c):
            out += '\\' + chr(c)
        elif 0x20 <= c < 0x7f:
            out += chr(c)
        else:
            out += '\\%03o' % c
    return out + '"'


def main():
    rng = random.Random(20261211)
    print('// Generated by tests/unit/oracles/import_json.py; do not edit.')
    print('// {document, detect-types, column names, declared types, stored cells row by row}')
    for n in range(150):
        detect = n % 2 == 1
        text, parsed = document(rng)
        columns = []
        for o in parsed:
            for k in o:
                if k not in columns:
                    columns.append(k)
        types = [declared([o.get(k) for o in parsed]) if detect else '' for k in columns]
        cells = [cell(o.get(k), t if detect else '') for o in parsed
                 for k, t in zip(columns, types)]
        print('{%s, %s, %s, %s, {%s}},' % (
            c_literal(text), 'true' if detect else 'false',
            c_literal('|'.join(columns)), c_literal('|'.join(types)),
            ', '.join(c_literal(c) for c in cells)))


main()
