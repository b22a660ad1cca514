#!/usr/bin/env python3
"""Writes the expected-value tables of the BASIC's number tests, worked out with exact fractions
(and checked against the C library's strtof), so the tests compare against an independent
reference instead of the code under test. Run once; the tables are kept beside this script.

  number_tables.py read   > numbers_read.txt
  number_tables.py func   > numbers_func.txt
  number_tables.py arith  > numbers_arith.txt
Each line: the decimal text, then M and K with the number read times 2^K equal to M (M a whole
number of at most 24 bits; 0 0 for a number read as 0; OVERFLOW for one past the largest
float). The first line is the count. numbers_func.txt has lines "F,MX,KX,M,K": function F (1 SQR,
2 SIN, 3 COS, 4 TAN, 5 ATN, 6 LOG, 7 EXP) of the float MX 2^-KX, whose nearest float is M 2^-K
(worked out with mpmath at 200 bits). numbers_arith.txt has lines "O,MA,KA,MB,KB,M,K": a op b
(O 1 +, 2 -, 3 *, 4 /) of the floats MA 2^-KA and MB 2^-KB, exactly M 2^-K rounded (M,K
OVERFLOW,0 past the largest float). The BASIC has no subnormal numbers: a number whose
24-bit rounding is below 2^-126 reads as 0.
"""
import ctypes
import math
import random
import struct
import sys
from fractions import Fraction

libc = ctypes.CDLL(None)
libc.strtof.restype = ctypes.c_float
libc.strtof.argtypes = [ctypes.c_char_p, ctypes.c_void_p]


def decimal(text):
    """The exact value of a decimal text: digits, an optional point, an optional E exponent."""
    mant, _, exp = text.upper().partition("E")
    neg = mant.startswith("-")
    mant = mant.lstrip("+-")
    whole, _, frac = mant.partition(".")
    v = Fraction(int((whole + frac) or "0"), 10 ** len(frac)) * Fraction(10) ** int(exp or "0")
    return -v if neg else v


def nearest(v):
    """(M, K) for the float nearest v, ties to even, or None past the largest float."""
    if v == 0:
        return 0, 0
    sign = -1 if v < 0 else 1
    v = abs(v)
    e = v.numerator.bit_length() - v.denominator.bit_length()
    if Fraction(2) ** e > v:
        e -= 1
    if Fraction(2) ** (e + 1) <= v:
        e += 1
    m = v / Fraction(2) ** (e - 23)
    q = m.numerator // m.denominator
    r = m - q
    if r > Fraction(1, 2) or (r == Fraction(1, 2) and q & 1):
        q += 1
    if q == 1 << 24:
        q >>= 1
        e += 1
    if e > 127:
        return None
    if e < -126:
        return 0, 0
    return sign * q, 23 - e


def check_strtof(text, mk):
    """The C library's strtof must agree wherever the result is a normal float."""
    if mk is None or mk == (0, 0):
        return
    m, k = mk
    got = libc.strtof(text.encode(), None)
    want = struct.unpack("f", struct.pack("f", m * 2.0**-k))[0]
    assert got == want, (text, got, want)


def form(digits, point):
    """digits (a string) with the decimal point placed point digits from the left (may be
    outside), written as the BASIC reads it, in one of several forms."""
    style = random.randrange(3)
    n = len(digits)
    if style == 0 or not (-30 < point < n + 30):  # d.dddE+x
        text = digits[0] + ("." + digits[1:] if n > 1 else "")
        return text + "E%+d" % (point - 1)
    if style == 1:  # plain, with zeros as needed
        if point <= 0:
            return "." + "0" * -point + digits
        if point >= n:
            return digits + "0" * (point - n)
        return digits[:point] + "." + digits[point:]
    shift = random.randrange(-5, 6)  # dd.ddE-x with the point elsewhere
    p = min(max(point - shift, 0), n)
    text = digits[:p] + ("." + digits[p:] if p < n else "")
    return (text or "0") + "E%d" % (point - p)


def midpoint_text(m, e, extra):
    """The decimal text of the midpoint above m * 2^e (m of 24 bits), moved by extra units of
    a digit far below it (0 exactly half)."""
    v = (Fraction(2 * m + 1) * Fraction(2) ** (e - 1))
    num, den = v.numerator, v.denominator
    places = den.bit_length() - 1  # den is a power of two: that many decimal places
    digits = str(num * 5**places)
    if extra:
        digits += "0" * 5
        places += 5
        digits = str(int(digits) + extra)
    if places:
        digits = digits.rjust(places + 1, "0")
        text = digits[:-places] + "." + digits[-places:]
    else:
        text = digits
    text = text.lstrip("0") or "0"
    if "." in text:
        text = text.rstrip("0").rstrip(".")
    return text


def read_cases():
    random.seed(33)
    cases = []
    for k in range(-38, 39):  # powers of ten, in both forms
        cases.append("1E%d" % k)
        cases.append(form("1", k + 1))
    cases += ["16777216", "16777217", "16777218", "16777219", "33554431", "33554433",
              "3.40282347E38", "3.40282356E38", "3.4028235677973366E38", "3.40282357E38",
              "1.17549435E-38", "1.1754942E-38", "1.17549421E-38", "1.1754943E-38", "1E-38",
              "5.877472E-39", "0.1", "0.2", "0.3", "0.7", ".1E1", "1.E2", "9999999", "99999999",
              "999999999", "9999999999", "4294967295", "4294967296", "12345678901234567890",
              "0.000000000000000000000000000000000000011754943508222875",
              "0000000000000000012.5", "1" + "0" * 38, "3" + "0" * 38, "0.0"]
    for _ in range(150):  # halfway between two floats, exactly and just off it
        m = random.randrange(1 << 23, 1 << 24)
        e = random.randrange(-149, 104)
        for extra in (0, 0, -1, 1):
            cases.append(midpoint_text(m, e, extra))
    for m in range(1 << 23, (1 << 23) + 40):  # halfway above 2^24, small and close
        cases.append(str(2 * m + 1))
    for _ in range(2400):  # random digits over the whole range
        n = random.choice([1, 2, 3, 5, 7, 8, 9, 10, 11, 15, 20, 30, random.randrange(1, 60)])
        digits = str(random.randrange(1, 10)) + "".join(
            str(random.randrange(10)) for _ in range(n - 1))
        point = random.randrange(-38, 40)
        text = form(digits, point)
        if random.randrange(10) == 0:
            text = "-" + text
        cases.append(text)
    for _ in range(8):  # very long ones, past the digits kept exactly
        m = random.randrange(1 << 23, 1 << 24)
        e = random.randrange(-149, -100)
        text = midpoint_text(m, e, 0)
        cases.append(text)
        cases.append(text + "0" * 30 + "1")
    lines = []
    for text in cases:
        mk = nearest(decimal(text))
        check_strtof(text, mk)
        lines.append("%s,%s" % (text, "OVERFLOW" if mk is None else "%d,%d" % mk))
    return lines


def func_cases():
    import mpmath

    mpmath.mp.prec = 200
    random.seed(34)
    names = [None, mpmath.sqrt, mpmath.sin, mpmath.cos, mpmath.tan, mpmath.atan, mpmath.log,
             mpmath.exp]

    def as_float(v):  # a float's (M, K) from a value already a float
        return nearest(Fraction(v))

    def rand_float(lo, hi, log=True):
        v = math.exp(random.uniform(math.log(lo), math.log(hi))) if log else random.uniform(lo, hi)
        return struct.unpack("f", struct.pack("f", v))[0]

    args = {f: [] for f in range(1, 8)}
    args[1] = [rand_float(1e-37, 3e38) for _ in range(900)]
    args[1] += [float(n * n) for n in random.sample(range(1, 4096), 100)]
    args[1] += [float(n * n) * 2.0**k for n, k in ((random.randrange(1, 4096),
                                                     2 * random.randrange(-50, 50)) for _ in range(50))]
    for f in (2, 3, 4):
        args[f] = [rand_float(-10, 10, False) for _ in range(600)]
        args[f] += [rand_float(1e-6, 512) * random.choice((1, -1)) for _ in range(300)]
        args[f] += [struct.unpack("f", struct.pack("f", float(k * mpmath.pi / 2)))[0]
                    for k in range(1, 101)]
        args[f] += [rand_float(512, 3e38) * random.choice((1, -1)) for _ in range(150)]
        args[f] += [0.0]
    args[5] = [rand_float(1e-6, 1e6) * random.choice((1, -1)) for _ in range(900)]
    args[5] += [rand_float(-3, 3, False) for _ in range(100)]
    args[6] = [rand_float(1e-37, 3e38) for _ in range(800)]
    args[6] += [rand_float(0.5, 2, False) for _ in range(150)]
    args[6] += [1.0 + k * 2.0**-23 for k in range(-20, 30)] + [1.0]
    args[7] = [rand_float(-87.3, 88.7, False) for _ in range(850)]
    args[7] += [rand_float(1e-6, 1) * random.choice((1, -1)) for _ in range(150)]
    args[7] += [0.0, -87.33, -87.336, -87.3365]
    lines = []
    for f in range(1, 8):
        for x in args[f]:
            x = struct.unpack("f", struct.pack("f", x))[0]  # the argument is a float
            mx, kx = as_float(x)
            v = names[f](mpmath.mpf(x))
            sign, man, exp, _ = mpmath.mpf(v)._mpf_
            m, k = nearest((-1) ** sign * Fraction(int(man)) * Fraction(2) ** int(exp))
            lines.append("%d,%d,%d,%d,%d" % (f, mx, kx, m, k))
    return lines


def arith_cases():
    random.seed(35)

    def rand_float():
        kind = random.randrange(5)
        if kind == 0:  # a whole number of few bits, as loops count
            v = float(random.randrange(1, 1 << random.choice((4, 8, 12, 16))))
        elif kind == 1:  # all ones or a power of two, and their neighbours
            v = float(random.choice(((1 << 24) - 1, 1 << 23, (1 << 23) + 1, (1 << 24) - 2)))
            v *= 2.0 ** random.randrange(-30, 10)
        else:
            v = math.exp(random.uniform(math.log(1e-18), math.log(1e18)))
        v *= random.choice((1, -1))
        return struct.unpack("f", struct.pack("f", v))[0]

    def exact(op, a, b):
        a, b = Fraction(a), Fraction(b)
        return (a + b, a - b, a * b, a / b)[op - 1]

    pairs = [(op, rand_float(), rand_float()) for op in (1, 2, 3, 4) for _ in range(250)]
    ties = 0
    while ties < 80:  # exactly halfway between two floats: to the even one
        op = random.choice((1, 3))
        a = float(random.randrange(1, 1 << 24)) * 2.0 ** random.randrange(-8, 8)
        b = float(random.randrange(1, 1 << 16)) * 2.0 ** random.randrange(-30, 8)
        v = exact(op, a, b)
        e = v.numerator.bit_length() - v.denominator.bit_length()
        if Fraction(2) ** e > v:
            e -= 1
        m = v / Fraction(2) ** (e - 23)
        if m - m.numerator // m.denominator == Fraction(1, 2):
            pairs.append((op, a, b))
            ties += 1
    for k in (-126, -127, -128, 127, 126):  # near the ends of the range
        for _ in range(6):
            a = rand_float()
            b = a / 2.0 ** k / random.choice((1, 0.999999, 1.0000001, 1.5))
            c = 2.0 ** k / a * random.choice((1, 0.999999, 1.0000001))
            for op, v in ((4, b), (3, c)):
                if 1e-38 < abs(v) < 3e38:
                    pairs.append((op, a, struct.unpack("f", struct.pack("f", v))[0]))
    lines = []
    for op, a, b in pairs:
        ma, ka = nearest(Fraction(a))
        mb, kb = nearest(Fraction(b))
        if (ma, ka) == (0, 0) or (mb, kb) == (0, 0) or abs(ka) > 149 or abs(kb) > 149:
            continue  # only normal operands, and none the BASIC cannot write down exactly
        mk = nearest(exact(op, Fraction(ma) / Fraction(2) ** ka, Fraction(mb) / Fraction(2) ** kb))
        lines.append("%d,%d,%d,%d,%d,%s" % (op, ma, ka, mb, kb,
                                             "OVERFLOW,0" if mk is None else "%d,%d" % mk))
    return lines


if __name__ == "__main__":
    table = {"read": read_cases, "func": func_cases, "arith": arith_cases}[sys.argv[1]]()
    print(len(table))
    print("\n".join(table))
