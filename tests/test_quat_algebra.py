"""The rotation algebra of Quat: the active convention, composition, inverse, interpolation,
matrices, Euler angles, rotations between directions, and VecList.rotated."""

from __future__ import annotations

import array
import importlib.util
import itertools
import math
import random
import subprocess
import sys

import pytest
from conftest import assert_bits, assert_floats, requires_free_threading, scaled, toggle_racing_readers

from test_quat import py_div, py_rotate

from quorvane import AngleRadians, Quat, Vec3d, VecList

nan = float("nan")
inf = float("inf")
SPECIAL = [0.0, -0.0, 1.0, -1.0, 0.5, 1e-300, -1e300, inf, -inf, nan]
SEQUENCES = ["".join(axes) for axes in itertools.product("xyz", repeat=3) if axes[0] != axes[1] != axes[2]]
ALL_SEQUENCES = SEQUENCES + [seq.upper() for seq in SEQUENCES]


def parts(q: Quat) -> list[float]:
    return [q.w, q.i, q.j, q.k]


def vector(v: Vec3d) -> list[float]:
    return [v.x, v.y, v.z]


def component(rng: random.Random) -> float:
    return rng.choice(SPECIAL) if rng.random() < 0.2 else rng.uniform(-2, 2)


def unit_quaternion(rng: random.Random) -> list[float]:
    q = [rng.gauss(0, 1) for _ in range(4)]
    n = math.sqrt(sum(x * x for x in q))
    return [x / n for x in q]


def unit_vector(rng: random.Random) -> list[float]:
    v = [rng.gauss(0, 1) for _ in range(3)]
    n = math.sqrt(sum(x * x for x in v))
    return [x / n for x in v]


# ---- plain-Python formulas, in the module's evaluation order ----


def py_then(a: list[float], b: list[float]) -> list[float]:
    aw, ai, aj, ak = a
    bw, bi, bj, bk = b
    return [((aw * bw - ai * bi) - aj * bj) - ak * bk,
            ((aw * bi + ai * bw) + aj * bk) - ak * bj,
            ((aw * bj - ai * bk) + aj * bw) + ak * bi,
            ((aw * bk + ai * bj) - aj * bi) + ak * bw]  # fmt: skip


def py_inverse(q: list[float]) -> list[float]:
    w, i, j, k = q
    n = ((w * w + i * i) + j * j) + k * k
    return [py_div(w, n), py_div(-i, n), py_div(-j, n), py_div(-k, n)]


# ---- independent references: rotation matrices acting on column vectors ----


def elementary(axis: int, angle: float) -> list[list[float]]:
    c, s = math.cos(angle), math.sin(angle)
    if axis == 0:
        return [[1, 0, 0], [0, c, -s], [0, s, c]]
    if axis == 1:
        return [[c, 0, s], [0, 1, 0], [-s, 0, c]]
    return [[c, -s, 0], [s, c, 0], [0, 0, 1]]


def matmul(a: list[list[float]], b: list[list[float]]) -> list[list[float]]:
    return [[sum(a[r][n] * b[n][c] for n in range(3)) for c in range(3)] for r in range(3)]


def apply(m: list[list[float]], v: list[float]) -> list[float]:
    return [sum(m[r][n] * v[n] for n in range(3)) for r in range(3)]


def euler_matrix(seq: str, angles: list[float]) -> list[list[float]]:
    """Extrinsic: the first rotation is applied first, so its matrix stands rightmost."""
    matrices = [elementary("xyz".index(axis.lower()), angle) for axis, angle in zip(seq, angles)]
    if seq.isupper():
        return matmul(matmul(matrices[0], matrices[1]), matrices[2])
    return matmul(matmul(matrices[2], matrices[1]), matrices[0])


def rotation_matrix_of(q: Quat) -> list[list[float]]:
    """The matrix q.rotate applies, column by column from the basis vectors."""
    columns = [vector(q.rotate(Vec3d(*e))) for e in ((1, 0, 0), (0, 1, 0), (0, 0, 1))]
    return [[columns[c][r] for c in range(3)] for r in range(3)]


def assert_close(actual: list[float], expected: list[float], tolerance: float) -> None:
    assert len(actual) == len(expected)
    assert all(abs(a - e) <= tolerance for a, e in zip(actual, expected)), (actual, expected)


def assert_same_rotation(a: Quat, b: Quat, tolerance: float) -> None:
    for ra, rb in zip(rotation_matrix_of(a), rotation_matrix_of(b)):
        assert_close(ra, rb, tolerance)


def assert_same_up_to_sign(actual: Quat, expected: Quat, tolerance: float) -> None:
    sign = 1.0 if sum(a * e for a, e in zip(parts(actual), parts(expected))) >= 0 else -1.0
    assert_close(parts(actual), [sign * e for e in parts(expected)], tolerance)


# ---- exact bits ----


@pytest.mark.parametrize("seed", range(3))
def test_convention_composition_and_inverse_match_plain_python_in_bits(seed: int) -> None:
    rng = random.Random(seed)
    for _ in range(scaled(1500)):
        a = [component(rng) for _ in range(4)]
        b = [component(rng) for _ in range(4)]
        qa = Quat(*a)
        assert_floats(parts(qa.then(Quat(*b))), py_then(a, b))
        assert_floats(parts(qa.inverse()), py_inverse(a))
        assert_bits(parts(Quat.from_active(*a)), [a[0], -a[1], -a[2], -a[3]])
        active = qa.to_active()
        assert type(active) is tuple and all(type(x) is float for x in active)
        assert_bits(active, [a[0], -a[1], -a[2], -a[3]])
        assert_bits(parts(Quat.from_active(*active)), a)


def test_inverse_of_zero_is_nan_and_composition_undoes() -> None:
    assert all(math.isnan(x) for x in parts(Quat(0, 0, 0, 0).inverse()))
    q = Quat(0.5, -1.5, 2.0, 0.25)
    assert_close(parts(q.then(q.inverse())), [1.0, 0.0, 0.0, 0.0], 1e-15)


# Lengths around the four vectors the batch rotates at a time, and one of several steps.
@pytest.mark.parametrize("length", [0, 1, 3, 4, 6, 7, 9, 3000])
def test_rotated_is_rotate_per_element_in_bits(length: int) -> None:
    rng = random.Random(length)
    q = [rng.uniform(-2, 2) for _ in range(4)]  # the special values go in the vectors, lane by lane
    items = [[component(rng) for _ in range(3)] for _ in range(length)]
    original = VecList([Vec3d(*v) for v in items])
    rotated = original.rotated(Quat(*q))
    assert type(rotated) is VecList and rotated is not original and len(rotated) == len(items)
    for got, v in zip(rotated.to_array(), items):
        assert_floats(got, py_rotate(q, v))
    assert_floats([x for row in original.to_array() for x in row], [x for v in items for x in v])  # unchanged
    original.rotate(Quat(*q))
    assert_floats([x for row in original.to_array() for x in row], [x for row in rotated.to_array() for x in row])


# ---- composition agrees with rotating in turn ----


@pytest.mark.parametrize("seed", range(2))
def test_then_rotates_by_self_first(seed: int) -> None:
    rng = random.Random(seed)
    for _ in range(200):
        q, r, v = Quat(*unit_quaternion(rng)), Quat(*unit_quaternion(rng)), Vec3d(*unit_vector(rng))
        assert_close(vector(q.then(r).rotate(v)), vector(r.rotate(q.rotate(v))), 1e-14)
        assert_close(vector(q.inverse().rotate(q.rotate(v))), vector(v), 1e-14)


# ---- slerp ----


def reference_slerp(a: list[float], b: list[float], t: float) -> list[float]:
    """a cos(t θ) + e sin(t θ), with e the unit part of b perpendicular to a."""
    if sum(x * y for x, y in zip(a, b)) < 0:
        b = [-x for x in b]
    d = sum(x * y for x, y in zip(a, b))
    across = [y - d * x for x, y in zip(a, b)]
    norm = math.sqrt(sum(x * x for x in across))
    if norm == 0:
        return list(a)
    theta = math.atan2(norm, d)
    return [x * math.cos(t * theta) + (y / norm) * math.sin(t * theta) for x, y in zip(a, across)]


def nearby(rng: random.Random, q: list[float], scale: float) -> list[float]:
    moved = [x + rng.uniform(-scale, scale) for x in q]
    n = math.sqrt(sum(x * x for x in moved))
    return [x / n for x in moved]


@pytest.mark.parametrize("seed", range(3))
def test_slerp_follows_the_shorter_arc_and_stays_unit(seed: int) -> None:
    rng = random.Random(seed)
    for _ in range(scaled(600)):
        a = unit_quaternion(rng)
        b = rng.choice([unit_quaternion(rng), nearby(rng, a, 10.0 ** rng.randint(-16, -2)), list(a),
                        [-x for x in a], nearby(rng, [-x for x in a], 1e-12)])
        t = rng.choice([0.0, 1.0, 0.5, rng.random(), rng.uniform(-0.5, 1.5)])
        result = parts(Quat(*a).slerp(Quat(*b), t))
        assert not any(math.isnan(x) for x in result)
        assert abs(math.sqrt(sum(x * x for x in result)) - 1.0) <= 1e-14
        assert_close(result, reference_slerp(a, b, t), 1e-12)


def test_slerp_ends() -> None:
    a, b = Quat(0.5, 0.5, 0.5, 0.5), Quat(0.5, -0.5, 0.5, -0.5)  # dot 0: b is not negated
    assert a.slerp(b, 0.0) == a and a.slerp(b, 1.0) == b
    far = Quat(-0.5, -0.5, -0.5, 0.5)  # dot -0.5 with a: the arc goes to its negation
    assert a.slerp(far, 1.0) == Quat(0.5, 0.5, 0.5, -0.5)
    assert a.slerp(far, 0.5) == a.slerp(Quat(0.5, 0.5, 0.5, -0.5), 0.5)


# ---- rotation matrices ----


@pytest.mark.parametrize("seed", range(2))
def test_from_rotation_matrix_inverts_to_rotation_matrix(seed: int) -> None:
    rng = random.Random(seed)
    cases = [unit_quaternion(rng) for _ in range(scaled(400))]
    # Half turns and near half turns, where reading w off the trace alone would fail.
    cases += [nearby(rng, [0.0, *unit_vector(rng)], 1e-9) for _ in range(100)]
    cases += [[0.0, 1.0, 0.0, 0.0], [0.0, 0.0, 1.0, 0.0], [0.0, 0.0, 0.0, 1.0], [1.0, 0.0, 0.0, 0.0]]
    for q in cases:
        back = Quat.from_rotation_matrix(Quat(*q).to_rotation_matrix())
        assert_same_up_to_sign(back, Quat(*q), 1e-13)


def test_from_rotation_matrix_takes_any_rows_of_floats() -> None:
    q = Quat(0.5, 0.5, -0.5, 0.5)
    rows = q.to_rotation_matrix()
    expected = parts(Quat.from_rotation_matrix(rows))
    assert_bits(parts(Quat.from_rotation_matrix(tuple(tuple(r) for r in rows))), expected)
    assert_bits(parts(Quat.from_rotation_matrix([tuple(rows[0]), rows[1], array.array("d", rows[2])])), expected)
    if importlib.util.find_spec("numpy") is not None:
        import numpy as np

        assert_bits(parts(Quat.from_rotation_matrix(np.array(rows))), expected)
    # The transpose of what rotate applies, as with to_rotation_matrix.
    assert_close(vector(Quat.from_rotation_matrix([[0, 1, 0], [-1, 0, 0], [0, 0, 1]]).rotate(Vec3d(1, 0, 0))),
                 [0.0, 1.0, 0.0], 1e-15)


# ---- Euler angles ----


@pytest.mark.parametrize("seq", ALL_SEQUENCES)
def test_from_euler_matches_the_matrix_product(seq: str) -> None:
    rng = random.Random(seq)
    for _ in range(100):
        angles = [rng.uniform(-4, 4) for _ in range(3)]
        q = Quat.from_euler(seq, *map(AngleRadians, angles))
        assert abs(q.magnitude() - 1.0) < 1e-15
        m = euler_matrix(seq, angles)
        v = unit_vector(rng)
        assert_close(vector(q.rotate(Vec3d(*v))), apply(m, v), 1e-14)


def gimbal_locked(seq: str) -> list[Quat]:
    """Exact quaternions at gimbal lock for seq: identity and half turns (first axis = third),
    quarter turns about the middle axis (three different axes)."""
    s = 0.7071067811865476
    middle = "xyz".index(seq[1].lower())
    found = [Quat.identity()] if seq[0].lower() == seq[2].lower() else []
    for sign in (1.0, -1.0):
        for w in (s, 0.0):
            q = [w, 0.0, 0.0, 0.0]
            q[1 + middle] = sign * (s if w else 1.0)
            found.append(Quat.from_active(*q))
    return found


@pytest.mark.parametrize("seq", ALL_SEQUENCES)
def test_to_euler_round_trips_within_its_ranges(seq: str) -> None:
    rng = random.Random(seq)
    proper = seq[0].lower() == seq[2].lower()
    cases = [Quat(*unit_quaternion(rng)) for _ in range(scaled(300))]
    near_lock = [0.0, math.pi] if proper else [math.pi / 2, -math.pi / 2]
    cases += [Quat.from_euler(seq, AngleRadians(rng.uniform(-3, 3)),
                              AngleRadians(rng.choice(near_lock) + rng.choice([0.0, 1e-9, -1e-12])),
                              AngleRadians(rng.uniform(-3, 3))) for _ in range(50)]
    for q in cases + gimbal_locked(seq):
        angles = q.to_euler(seq)
        assert type(angles) is tuple and all(type(a) is AngleRadians for a in angles)
        first, second, third = (a.angle for a in angles)
        assert -math.pi <= first <= math.pi and -math.pi <= third <= math.pi
        assert (0.0 <= second <= math.pi) if proper else (-math.pi / 2 <= second <= math.pi / 2)
        assert_same_rotation(Quat.from_euler(seq, *angles), q, 1e-13)
    locks = 0
    for q in gimbal_locked(seq):
        angles = [a.angle for a in q.to_euler(seq)]
        if angles[1] in ((0.0, math.pi) if proper else (math.pi / 2, -math.pi / 2)):
            locks += 1
            assert angles[2] == 0.0, angles
    assert locks >= 2


def lock_angles(seq: str) -> list[AngleRadians]:
    """The middle angles at which seq is in gimbal lock, as the library's own constants give them."""
    if seq[0].lower() == seq[2].lower():
        return [AngleRadians.zero(), AngleRadians.pi(), -AngleRadians.pi()]
    return [AngleRadians.half_pi(), -AngleRadians.half_pi()]


@pytest.mark.parametrize("seq", ALL_SEQUENCES)
def test_gimbal_lock_built_from_the_constants_sets_the_angle_applied_last_to_zero(seq: str) -> None:
    rng = random.Random(seq)
    locks = [middle.angle for middle in lock_angles(seq)]
    for middle in [AngleRadians.half_pi(), -AngleRadians.half_pi(), AngleRadians.zero(), AngleRadians.pi()]:
        for _ in range(40):
            q = Quat.from_euler(seq, AngleRadians(rng.uniform(-3, 3)), middle, AngleRadians(rng.uniform(-3, 3)))
            first, second, third = q.to_euler(seq)
            if middle.angle in locks:
                assert third.angle == 0.0, (middle, q.to_euler(seq))
                assert abs(abs(second.angle) - abs(middle.angle)) <= 1e-15
            assert_same_rotation(Quat.from_euler(seq, first, second, third), q, 1e-15)


@pytest.mark.parametrize("scale", [2.0**1000, 2.0**-1000, 1e300, 1.7e308, 1e-300])
@pytest.mark.parametrize("seq", ["xyz", "ZXZ", "zyx", "YXY"])
def test_to_euler_ignores_the_magnitude(seq: str, scale: float) -> None:
    rng = random.Random(seq)
    exact = math.frexp(scale)[0] == 0.5
    locked = [Quat.from_euler(seq, AngleRadians(rng.uniform(-3, 3)), middle, AngleRadians(rng.uniform(-3, 3)))
              for middle in lock_angles(seq) for _ in range(20)]
    for unit in [Quat(*unit_quaternion(rng)) for _ in range(200)] + locked:
        angles = [a.angle for a in unit.to_euler(seq)]
        scaled_angles = [a.angle for a in Quat(*[x * scale for x in parts(unit)]).to_euler(seq)]
        if exact:
            assert_floats(scaled_angles, angles)
        else:
            assert_close(scaled_angles, angles, 1e-14)


# ---- rotation between directions ----


def scaled_vector(rng: random.Random) -> list[float]:
    return [x * 10.0 ** rng.choice([0, 0, -300, 300, -10]) for x in unit_vector(rng)]


def angle_between(a: list[float], b: list[float]) -> float:
    na, nb = math.sqrt(sum(x * x for x in a)), math.sqrt(sum(x * x for x in b))
    ua, ub = [x / na for x in a], [x / nb for x in b]
    return 2 * math.atan2(math.dist(ua, ub), math.hypot(*[x + y for x, y in zip(ua, ub)]))


@pytest.mark.parametrize("seed", range(3))
def test_rotation_between_turns_a_onto_b_the_shortest_way(seed: int) -> None:
    rng = random.Random(seed)
    for _ in range(scaled(500)):
        a = unit_vector(rng)
        kind = rng.random()
        if kind < 0.2:
            b = [-x for x in a]
        elif kind < 0.4:
            b = [-x + rng.uniform(-1e-9, 1e-9) for x in a]
        elif kind < 0.5:
            b = [x * 3.0 for x in a]
        else:
            b = unit_vector(rng)
        scale_a, scale_b = 10.0 ** rng.choice([0, -300, 300, -5]), 10.0 ** rng.choice([0, -300, 300, 7])
        q = Quat.rotation_between(Vec3d(*[x * scale_a for x in a]), Vec3d(*[x * scale_b for x in b]))
        assert not any(math.isnan(x) for x in parts(q))
        assert abs(q.magnitude() - 1.0) <= 1e-14
        nb = math.sqrt(sum(x * x for x in b))
        assert_close(vector(q.rotate(Vec3d(*a))), [x / nb for x in b], 1e-13)
        # The shortest rotation turns by the angle between the two and no more.
        assert abs(2 * math.acos(min(1.0, abs(q.w))) - angle_between(a, b)) <= 1e-7


@pytest.mark.parametrize("a", [[1, 0, 0], [0, 2, 0], [0, 0, -3], [1, 1, 1], [1e-310, 0, 0], [1e308, -1e308, 1e308]])
def test_opposite_directions_give_a_half_turn_about_a_perpendicular_axis(a: list[float]) -> None:
    q = Quat.rotation_between(Vec3d(*a), Vec3d(*[-x for x in a]))
    assert abs(q.w) < 1e-15 and abs(q.magnitude() - 1.0) < 1e-15
    axis = q.to_vec3d()
    largest = max(map(abs, a))
    direction = [x / largest for x in a]
    assert abs(sum(x * y for x, y in zip(axis, direction))) < 1e-15


def test_rotation_between_equal_directions_is_the_identity() -> None:
    assert_close(parts(Quat.rotation_between(Vec3d(1, 2, 3), Vec3d(2, 4, 6))), [1.0, 0.0, 0.0, 0.0], 1e-16)


def unit_direction(v: list[float]) -> list[float]:
    """v over its length, exact for subnormal and huge components: first scaled by a power of
    two (exactly) so that its largest component lies in [1, 2)."""
    shift = -math.frexp(max(map(abs, v)))[1] + 1
    w = [math.ldexp(x, shift) for x in v]
    n = math.hypot(*w)
    return [x / n for x in w]


TINY = [5e-324, 1e-323, 3e-320, 2.2e-308, 1e-300, 1e-200, 1e-100, 1e-30, 1e-17]


def adversarial_pair(rng: random.Random, family: str) -> tuple[list[float], list[float]]:
    """Two finite non-zero vectors anywhere in the double range: nearly opposite or nearly equal
    directions set apart by a subnormal or tiny amount, or components of wildly unequal size."""
    if family == "components":
        pick = lambda: rng.choice([0.0, 1.0, rng.uniform(-1, 1), 1e308, 1.7e308] + TINY) * rng.choice([1, -1])  # noqa: E731
        a, b = [pick() for _ in range(3)], [pick() for _ in range(3)]
        return (a, b) if any(a) and any(b) else ([1.0, 0.0, 0.0], [-1.0, 5e-324, 0.0])
    a = unit_vector(rng)
    for k in rng.sample(range(3), rng.randrange(3)):
        a[k] = 0.0  # directions along the axes and in their planes
    if not any(a):
        a[rng.randrange(3)] = 1.0
    sign = -1.0 if family == "opposite" else 1.0
    b = [sign * x for x in a]
    b[rng.randrange(3)] += rng.choice(TINY) * rng.choice([1, -1])
    exponent_a, exponent_b = rng.randrange(-1070, 1020), rng.randrange(-1070, 1020)
    scaled_a, scaled_b = [math.ldexp(x, exponent_a) for x in a], [math.ldexp(x, exponent_b) for x in b]
    return (scaled_a, scaled_b) if any(scaled_a) and any(scaled_b) else (a, b)


@pytest.mark.parametrize("family", ["opposite", "equal", "components"])
def test_rotation_between_turns_a_onto_b_within_1e_14_over_the_whole_range(family: str) -> None:
    rng = random.Random(family)
    pairs = [([0.0, 0.6, 0.8], [1e-323, -0.6, -0.8]), ([1.0, 0.0, 0.0], [-1.0, 5e-324, 5e-324])]
    pairs += [adversarial_pair(rng, family) for _ in range(scaled(20_000, 2_000))]
    worst = (0.0, None)
    for a, b in pairs:
        turned = Quat.rotation_between(Vec3d(*a), Vec3d(*b)).rotate(Vec3d(*unit_direction(a)))
        error = math.dist(unit_direction(vector(turned)), unit_direction(b))
        worst = max(worst, (error, (a, b)), key=lambda found: found[0])
    assert worst[0] <= 1e-14, worst


# ---- the peer: scipy's Rotation, where it installs ----


@pytest.mark.skipif(importlib.util.find_spec("scipy") is None, reason="scipy is not installed here")
class TestAgainstScipy:
    @pytest.fixture(autouse=True)
    def _scipy(self) -> None:
        from scipy.spatial.transform import Rotation, Slerp

        self.Rotation, self.Slerp = Rotation, Slerp

    def from_scipy(self, r) -> Quat:
        x, y, z, w = r.as_quat()
        return Quat.from_active(w, x, y, z)

    @pytest.mark.parametrize("seq", ALL_SEQUENCES)
    def test_euler_angles(self, seq: str) -> None:
        rng = random.Random(seq)
        for _ in range(50):
            angles = [rng.uniform(-3, 3) for _ in range(3)]
            ours = Quat.from_euler(seq, *map(AngleRadians, angles))
            theirs = self.Rotation.from_euler(seq, angles)
            assert_same_up_to_sign(ours, self.from_scipy(theirs), 1e-14)
            v = unit_vector(rng)
            assert_close(vector(ours.rotate(Vec3d(*v))), list(theirs.apply(v)), 1e-14)
            back = self.Rotation.from_euler(seq, [a.angle for a in ours.to_euler(seq)])
            assert_same_up_to_sign(self.from_scipy(back), ours, 1e-13)

    def test_matrices_composition_and_slerp(self) -> None:
        import numpy as np

        rng = random.Random(7)
        for _ in range(200):
            r1, r2 = self.Rotation.random(rng=rng.randrange(2**32)), self.Rotation.random(rng=rng.randrange(2**32))
            q1, q2 = self.from_scipy(r1), self.from_scipy(r2)
            assert_close([x for row in q1.to_rotation_matrix() for x in row], list(r1.as_matrix().T.ravel()), 1e-14)
            assert_same_up_to_sign(Quat.from_rotation_matrix(r1.as_matrix().T), q1, 1e-13)
            # r2 * r1 applies r1 first.
            assert_same_up_to_sign(q1.then(q2), self.from_scipy(r2 * r1), 1e-14)
            assert_same_up_to_sign(q1.inverse(), self.from_scipy(r1.inv()), 1e-14)
            t = rng.random()
            theirs = self.Slerp([0.0, 1.0], self.Rotation.concatenate([r1, r2]))([t])[0]
            assert_same_up_to_sign(q1.slerp(q2, t), self.from_scipy(theirs), 1e-12)
            a, b = np.array(unit_vector(rng)), np.array(unit_vector(rng))
            q = Quat.rotation_between(Vec3d(*a), Vec3d(*b))
            assert_close(list(self.Rotation.from_quat([*q.to_active()[1:], q.w]).apply(a)), list(b), 1e-13)


# ---- the class surface ----


@pytest.mark.parametrize(
    ("call", "error", "text"),
    [
        (lambda: Quat.from_active(1, 0, 0), TypeError, "Quat.from_active() missing 1 required positional argument: 'z'"),
        (lambda: Quat.from_active(1, 0, 0, "0"), TypeError, "argument 'z': must be real number, not str"),
        (lambda: Quat.identity().to_active(1), TypeError, "Quat.to_active() takes 0 positional arguments but 1 was given"),
        (lambda: Quat.identity().then((1, 0, 0, 0)), TypeError,
         "argument 'other': 'tuple' object is not an instance of 'Quat'"),
        (lambda: Quat.identity().then(q=Quat.identity()), TypeError, "Quat.then() got an unexpected keyword argument 'q'"),
        (lambda: Quat.identity().inverse(None), TypeError, "Quat.inverse() takes 0 positional arguments but 1 was given"),
        (lambda: Quat.identity().slerp(Quat.identity()), TypeError,
         "Quat.slerp() missing 1 required positional argument: 't'"),
        (lambda: Quat.identity().slerp(None, 0.5), TypeError, "argument 'other': 'None' is not an instance of 'Quat'"),
        (lambda: Quat.identity().slerp(Quat.identity(), "half"), TypeError, "argument 't': must be real number, not str"),
        (lambda: Quat.from_rotation_matrix(5), TypeError,
         "argument 'matrix': expected a sequence of 3 rows of 3 floats, not 'int'"),
        (lambda: Quat.from_rotation_matrix({1: 2}), TypeError,
         "argument 'matrix': expected a sequence of 3 rows of 3 floats, not 'dict'"),
        (lambda: Quat.from_rotation_matrix([[1, 0, 0], [0, 1, 0]]), ValueError,
         "argument 'matrix': expected a sequence of 3 rows of 3 floats, got 2 rows"),
        (lambda: Quat.from_rotation_matrix([[1, 0, 0, 0]] * 4), ValueError,
         "argument 'matrix': expected a sequence of 3 rows of 3 floats, got 4 rows"),
        (lambda: Quat.from_rotation_matrix([[1, 0, 0], [0, 1], [0, 0, 1]]), ValueError,
         "argument 'matrix': expected a sequence of 3 rows of 3 floats, got 2 items in row 1"),
        (lambda: Quat.from_rotation_matrix([[1, 0, 0], [0, 1, 0], [1]]), ValueError,
         "argument 'matrix': expected a sequence of 3 rows of 3 floats, got 1 item in row 2"),
        (lambda: Quat.from_rotation_matrix([[1, 0, 0], 1.5, [0, 0, 1]]), TypeError,
         "argument 'matrix': expected a sequence of 3 rows of 3 floats, but row 1 is 'float'"),
        (lambda: Quat.from_rotation_matrix([[1, 0, 0], [0, None, 0], [0, 0, 1]]), TypeError,
         "argument 'matrix': must be real number, not NoneType"),
        (lambda: Quat.from_euler("xyz", 0.1, AngleRadians(0), AngleRadians(0)), TypeError,
         "argument 'a': 'float' object is not an instance of 'AngleRadians'"),
        (lambda: Quat.from_euler(b"xyz", AngleRadians(0), AngleRadians(0), AngleRadians(0)), TypeError,
         "argument 'seq': 'bytes' object is not an instance of 'str'"),
        (lambda: Quat.identity().to_euler(None), TypeError, "argument 'seq': 'None' is not an instance of 'str'"),
        (lambda: Quat.identity().to_euler(), TypeError, "Quat.to_euler() missing 1 required positional argument: 'seq'"),
        (lambda: Quat.rotation_between(Vec3d(1, 0, 0), [0, 1, 0]), TypeError,
         "argument 'b': 'list' object is not an instance of 'Vec3d'"),
        (lambda: VecList.empty().rotated(Vec3d(1, 0, 0)), TypeError,
         "argument 'quat': 'Vec3d' object is not an instance of 'Quat'"),
        (lambda: VecList.empty().rotated(), TypeError, "VecList.rotated() missing 1 required positional argument: 'quat'"),
    ],
)
def test_argument_errors(call, error: type, text: str) -> None:
    with pytest.raises(error) as raised:
        call()
    assert type(raised.value) is error and str(raised.value) == text


@pytest.mark.parametrize("seq", ["", "xy", "xyzx", "xxy", "xyy", "zzz", "xYz", "Xyz", "abc", "xyw", "x y", "xy\0",
                                 "ｘyz", "\udc80yz", "\n\x1b[2J", "x" * 41, "é" * 1_000_000])
def test_other_euler_sequences_are_refused_by_name(seq: str) -> None:
    shown = seq.encode("utf-8", "backslashreplace").decode("utf-8")
    expected = ("seq must be three of the axes x, y, z, all lower case (extrinsic) or all upper case (intrinsic), "
                f"with no axis twice in a row; got {shown[:40]!r}{'...' if len(shown) > 40 else ''}")
    zero = AngleRadians(0)
    for call in (lambda: Quat.from_euler(seq, zero, zero, zero), lambda: Quat.identity().to_euler(seq)):
        with pytest.raises(ValueError) as raised:
            call()
        assert str(raised.value) == expected


@pytest.mark.skipif(importlib.util.find_spec("_testcapi") is None, reason="needs CPython's _testcapi")
def test_a_failed_allocation_while_reading_seq_is_a_memory_error() -> None:
    # Each run fails one allocation of the call, the first being the str's UTF-8 form.
    script = """if True:
        import _testcapi
        from quorvane import AngleRadians, Quat
        zero = AngleRadians(0)
        outcomes = []
        for failing in range(4):
            seq = "".join(["é", "x", "y"])  # new, with no UTF-8 form made yet
            _testcapi.set_nomemory(failing, failing + 1)
            try:
                Quat.from_euler(seq, zero, zero, zero)
                outcomes.append("returned")
            except BaseException as error:
                outcomes.append(type(error).__name__)
            finally:
                _testcapi.remove_mem_hooks()
        print(outcomes)
    """
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["['MemoryError',"] + ["'MemoryError',"] * 2 + ["'MemoryError']"]


def test_keywords_and_signatures() -> None:
    zero = AngleRadians(0)
    assert Quat.from_euler(c=zero, b=zero, a=zero, seq="ZXZ") == Quat.identity()
    assert Quat.identity().slerp(t=0.5, other=Quat.identity()) == Quat.identity()
    assert Quat.from_active(z=0, y=0, x=0, w=1) == Quat.identity()
    signatures = {
        "from_active": "(w, x, y, z)", "to_active": "($self)", "then": "($self, other)", "inverse": "($self)",
        "slerp": "($self, other, t)", "from_rotation_matrix": "(matrix)", "from_euler": "(seq, a, b, c)",
        "to_euler": "($self, seq)", "rotation_between": "(a, b)",
    }  # fmt: skip
    for name, signature in signatures.items():
        assert getattr(Quat, name).__text_signature__ == signature and getattr(Quat, name).__doc__ is None
    assert VecList.rotated.__text_signature__ == "($self, quat)"
    for name in ("from_active", "from_rotation_matrix", "from_euler", "rotation_between"):
        assert type(Quat.__dict__[name]) is staticmethod


def test_results_are_new_objects() -> None:
    q = Quat.identity()
    assert q.then(q) is not q and q.inverse() is not q and q.slerp(q, 0.0) is not q
    angles = q.to_euler("xyz")
    assert len({id(a) for a in angles}) == 3


# ---- threads ----


@requires_free_threading
def test_readers_of_a_quaternion_being_written_see_whole_values_or_the_borrow_error() -> None:
    """A writer toggles q between (1, 0, 0, 0) and (2, 0, 0, 0); every reader result must be that
    of one of the two, and the only failures the two borrow errors."""
    q = Quat(1.0, 0.0, 0.0, 0.0)
    other = Quat(0.5, 0.5, 0.5, 0.5)
    vectors = VecList([Vec3d(1, 2, 3)])
    states = [Quat(1.0, 0.0, 0.0, 0.0), Quat(2.0, 0.0, 0.0, 0.0)]
    calls = {
        "then": lambda x: parts(x.then(other)),
        "then other": lambda x: parts(other.then(x)),
        "inverse": lambda x: parts(x.inverse()),
        "slerp": lambda x: parts(x.slerp(other, 0.25)),
        "to_active": lambda x: list(x.to_active()),
        "to_euler": lambda x: [a.angle for a in x.to_euler("zyz")],
        "rotated": lambda x: vectors.rotated(x).to_array(),
    }
    allowed = {name: [call(s) for s in states] for name, call in calls.items()}

    def toggle(n: int) -> None:
        q.w = 2.0 if n % 2 else 1.0

    def read() -> None:
        for name, call in calls.items():
            assert call(q) in allowed[name], name

    assert toggle_racing_readers(toggle, read)  # the threads did overlap
