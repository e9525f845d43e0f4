import math

import numpy as np
import pytest

from mps1d.fortran import parse_number, parse_numbers, parse_table

FORMS = [
    ("     0.150000000000E+01", 1.5),
    ("    -0.150000000000E-01", -0.015),
    ("     0.140669114317-127", 0.140669114317e-127),
    ("    -0.140669114317-127", -0.140669114317e-127),
    ("     0.179769313486+309", 0.179769313486e309),
    ("    -0.100000000000+100", -1e99),
    (" -0.50000E+00", -0.5),
    ("  0.12345-100", 0.12345e-100),
    ("-.500000000000E+00", -0.5),
    ("     0.01000", 0.01),
    ("     -0.00000", -0.0),
    ("      0.000000000010", 1e-11),
    ("       4", 4.0),
    ("000000005000", 5000.0),
    ("1.0D-9", 1e-9),
    ("2.5d+3", 2500.0),
    ("                    NaN", math.nan),
    ("               Infinity", math.inf),
    ("              -Infinity", -math.inf),
    ("     -Inf", -math.inf),
    ("********************", math.nan),
    ("************", math.nan),
]


def same(a, b):
    return (math.isnan(a) and math.isnan(b)) or a == b


@pytest.mark.parametrize("text,value", FORMS)
def test_every_layout(text, value):
    assert same(parse_number(text), value)


def test_vectorised_reads_what_the_scalar_reads():
    texts, values = zip(*FORMS)
    got = parse_numbers("\n".join(texts))
    assert all(same(g, v) for g, v in zip(got, values, strict=True))
    assert parse_numbers("").size == 0
    assert parse_table("\n\n", 2).shape == (0, 2)


@pytest.mark.parametrize("parse,text,message", [
    (parse_number, "", "not a number"),
    (parse_number, "abc", "not a number"),
    (parse_number, "1.0E", "not a number"),
    (parse_number, "0.1-1-1", "not a number"),
    (parse_number, "1.2.3", "not a number"),
    (parse_numbers, "1.0 2.0 x1 3.0", "'x1'"),
    (lambda t: parse_table(t, 2, "f.dat"), "1 2\n3 x\n", "f.dat, line 2: not a number: 'x'"),
    (lambda t: parse_table(t, 2, "f.dat"), "1 2\n3\n", "f.dat: line 2 has"),
    (lambda t: parse_table(t, 2, "f.dat"), "1 2\n3 4 5\n6\n", "f.dat: line 2 has"),
    (lambda t: parse_table(t, 2, "f.dat"), "1 2\n3 4\n5 6 7 8\n", "f.dat: line 3 has"),
])
def test_garbage_is_refused_and_named(parse, text, message):
    with pytest.raises(ValueError, match=message):
        parse(text)


@pytest.mark.parametrize("text,columns,expected", [
    ("     0.1E+01                    NaN\n     0.2-100               Infinity\n", 2,
     [[1.0, math.nan], [0.2e-100, math.inf]]),
    ("1 2\n\n3 4\n \t\n", None, [[1, 2], [3, 4]]),  # blank lines skipped
    ("\n1 2 3\n4 5 6\n", None, [[1, 2, 3], [4, 5, 6]]),  # width from the first line
])
def test_table(text, columns, expected):
    np.testing.assert_array_equal(parse_table(text, columns), expected)
