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
]

NON_FINITE = [("                    NaN", math.nan), ("               Infinity", math.inf),
              ("              -Infinity", -math.inf), ("     -Inf", -math.inf),
              ("********************", math.nan), ("************", math.nan)]


def same(a, b):
    return (math.isnan(a) and math.isnan(b)) or a == b


class TestOneField:
    @pytest.mark.parametrize("text,value", FORMS + NON_FINITE)
    def test_every_layout(self, text, value):
        assert same(parse_number(text), value)

    @pytest.mark.parametrize("text", ["", "abc", "1.0E", "0.1-1-1", "1.2.3"])
    def test_garbage_is_refused_with_its_text(self, text):
        with pytest.raises(ValueError, match="not a number"):
            parse_number(text)


class TestManyFields:
    def test_vectorised_reads_what_the_scalar_reads(self):
        texts, values = zip(*(FORMS + NON_FINITE))
        got = parse_numbers("\n".join(texts))
        assert all(same(g, v) for g, v in zip(got, values))

    def test_three_digit_exponent_amid_plain_fields(self):
        got = parse_numbers("     0.1E+01     0.2-100\n    -0.3+101     0.4E-05\n")
        np.testing.assert_array_equal(got, [1.0, 0.2e-100, -0.3e101, 0.4e-5])

    def test_a_bad_field_is_named(self):
        with pytest.raises(ValueError, match="'x1'"):
            parse_numbers("1.0 2.0 x1 3.0")

    def test_empty_text(self):
        assert parse_numbers("").size == 0
        assert parse_table("\n\n", 2).shape == (0, 2)


class TestTable:
    def test_rows_and_columns_with_fortran_forms(self):
        text = ("     0.1E+01                    NaN\n"
                "     0.2-100               Infinity\n")
        got = parse_table(text, 2)
        assert got.shape == (2, 2)
        assert got[1, 0] == 0.2e-100 and math.isnan(got[0, 1]) and got[1, 1] == math.inf

    def test_blank_lines_are_skipped(self):
        np.testing.assert_array_equal(parse_table("1 2\n\n3 4\n \t\n"), [[1, 2], [3, 4]])

    def test_columns_come_from_the_first_line_when_not_given(self):
        assert parse_table("\n1 2 3\n4 5 6\n").shape == (2, 3)

    @pytest.mark.parametrize("text,line", [("1 2\n3\n", 2), ("1 2\n3 4 5\n6\n", 2),
                                           ("1 2\n3 4\n5 6 7 8\n", 3)])
    def test_a_line_of_another_width_is_named(self, text, line):
        with pytest.raises(ValueError, match=f"f.dat: line {line} has"):
            parse_table(text, 2, "f.dat")

    def test_a_field_that_is_not_a_number_is_named_with_its_line(self):
        with pytest.raises(ValueError, match="f.dat, line 2: not a number: 'x'"):
            parse_table("1 2\n3 x\n", 2, "f.dat")
