"""Numbers in the Fortran layouts the solver writes.

Forms read here:

* E23.12 / E13.5: ``     0.150000000000E+01``, ``-.5E+00``, and exponents
  beyond +-99 without the letter: ``0.140669114317-127``;
* F12.5 / F20.12: plain decimals, and a field of asterisks when the value
  did not fit (read as NaN: the value is unknown);
* I8 and the 12-digit step labels: integers;
* ``NaN``, ``Infinity``, ``-Infinity``, ``Inf`` (right-justified);
* ``D`` exponents of the input file (``1.0D-9``).

Fields are separated by blanks, as every file of a run writes them.
"""
import re

import numpy as np

# A three-digit exponent glued to the mantissa: "0.14-127" -> "0.14E-127".
_BARE_EXPONENT = re.compile(r"(?<=[0-9.])([+-][0-9]{3})(?![0-9])")
_D_EXPONENT = re.compile(r"(?<=[0-9.])[dD](?=[+-]?[0-9])")
_OVERFLOW = re.compile(r"\*+")


def normalise(text):
    """Rewrites every Fortran-only form of `text` into one float() reads."""
    text = _OVERFLOW.sub("nan", text)
    text = _D_EXPONENT.sub("E", text)
    return _BARE_EXPONENT.sub(r"E\1", text)


def parse_number(text):
    """One number field (surrounding blanks allowed) as a float."""
    field = normalise(text.strip())
    try:
        return float(field)
    except ValueError:
        raise ValueError(f"not a number: {text!r}") from None


def parse_numbers(text):
    """Every blank-separated field of `text` as a 1-D float array."""
    return _to_floats(text.split(), text)


def _to_floats(tokens, text):
    """`tokens` (the fields of `text`) as floats, normalising `text` only when
    a field needs it."""
    if not tokens:
        return np.empty(0)
    try:
        return np.array(tokens, dtype=float)  # the common case: every field plain
    except ValueError:
        pass
    tokens = normalise(text).split()
    try:
        return np.array(tokens, dtype=float)
    except ValueError:
        bad = next(t for t in tokens if not _is_number(t))
        raise ValueError(f"not a number: {bad!r}") from None


def _is_number(token):
    try:
        float(token)
    except ValueError:
        return False
    return True


def parse_table(text, columns=None, source="text"):
    """The non-blank lines of `text` as a 2-D float array (rows x columns).

    Every line must hold the same number of fields (`columns`, when given);
    `source` names the file in the error.
    """
    tokens = text.split()
    if not tokens:
        return np.empty((0, columns or 0))
    lines = text.splitlines()
    if columns is None:
        columns = len(next(line for line in lines if line.strip()).split())
    # The solver's files have fixed-width lines: then the field count of the
    # whole text says enough; any other text is checked line by line.
    if len(set(map(len, lines))) > 1 or len(tokens) != len(lines) * columns:
        lines = [line for line in lines if line.strip()]
        _check_widths(text, columns, source)
    try:
        return _to_floats(tokens, text).reshape(len(lines), columns)
    except ValueError as error:
        raise ValueError(f"{source}{_line_of_bad_field(text)}: {error}") from None


def parse_column(text, source="text"):
    """A file of one number per line (a snapshot column) as a 1-D array.

    A blank line, a line of other than one field, a field that is not a
    number, and a field of asterisks (the E layouts of a column always fit,
    so asterisks are damage, not an unknown value) are a ValueError naming
    `source` and the line.  NaN and Infinity written as such are values.
    """
    lines = text.splitlines()
    tokens = text.split()
    if len(tokens) == len(lines) and "*" not in text:
        try:
            return _to_floats(tokens, text)
        except ValueError:
            pass
    for number, line in enumerate(lines, 1):
        fields = line.split()
        if len(fields) != 1 or "*" in line or not _is_number(normalise(fields[0])):
            raise ValueError(f"{source}, line {number}: not one number: {line!r}")
    raise ValueError(f"{source}: not one number per line")


def _line_of_bad_field(text):
    """', line N' of the first line of `text` holding a field that is not a number."""
    for number, line in enumerate(text.splitlines(), 1):
        if not all(_is_number(t) for t in normalise(line).split()):
            return f", line {number}"
    return ""


def _check_widths(text, columns, source):
    for number, line in enumerate(text.splitlines(), 1):
        if line.strip() and len(line.split()) != columns:
            raise ValueError(f"{source}: line {number} has {len(line.split())} fields, "
                             f"expected {columns}: {line!r}")

