"""3-D vectors, angles, quaternions and lists of vectors in 64-bit doubles, bit-exact and thread-safe.

    >>> from quorvane import AngleDegrees, AngleRadians, Quat, Vec3d, VecList, geometry

Every formula is evaluated in one fixed order with no fused multiply-add, so a result has the
same bits on every machine and every thread count. Nothing guards against zero or NaN: a zero
vector normalises to NaN, a division by zero gives infinities, and no call raises for a number.

Printed forms write each float as the shortest decimal that reads back as the same double, in
plain positional notation: no exponent, no trailing ".0", "-0" for negative zero, "NaN", "inf".

Threads: every object guards itself, and no call ever waits for another. Any number of calls may
read one object at once; assigning a property (or `VecList.append`, `extend`, `rotate`) needs
the object to itself. A conflict fails at once with RuntimeError: "Already borrowed" for the
write that found a reader, "Already mutably borrowed" for the read that found a writer.
Operators answer NotImplemented instead, and Python then raises its own TypeError.

A programming error that breaks an internal rule (`VecList.collapse(3)`, a stride of 0) raises
`PanicException`, which derives from BaseException: `except Exception` does not catch it.
"""

import builtins
import collections.abc
from typing import Any, ClassVar, final

from . import geometry as geometry
from . import spatial as spatial

__all__ = ["AngleDegrees", "AngleRadians", "Quat", "VecList", "Vec3d", "geometry"]

@final
class AngleDegrees:
    """An angle in degrees, for reading and writing angles; convert with `to_radians()` to compute.

    AngleDegrees(angle): `angle` is anything Python converts to a float; it is stored as it is,
    never wrapped into a period or checked. Degrees can be negated, compared exactly and printed,
    nothing else: there is no arithmetic, so they never pass for radians.

        >>> AngleDegrees(90), AngleDegrees(-45.5), -AngleDegrees(0)
        (90°, -45.5°, -0°)
        >>> AngleDegrees(60).to_radians()
        1.0471975511965976 radians

    Raises:
        TypeError: `angle` is not convertible to a float ("argument 'angle': ...").
    """

    def __new__(cls, angle: float) -> AngleDegrees:
        """An angle of `angle` degrees, stored unchanged.

        Raises:
            TypeError: `angle` is not convertible to a float ("argument 'angle': ...").
        """

    @property
    def angle(self) -> float:
        """The stored number of degrees.

        Assigning converts the new value to a float and stores it as it is.

        Raises:
            TypeError: on assignment, a value not convertible to a float ("argument 'value': ...").
            RuntimeError: on assignment, "Already borrowed" while another thread reads this angle;
                on reading, "Already mutably borrowed" while another thread assigns it.
            AttributeError: on deletion, "property has no deleter".
        """

    @angle.setter
    def angle(self, value: float) -> None: ...
    def to_radians(self) -> AngleRadians:
        """The same angle in radians, computed as (degrees × pi) ÷ 180, the product first.

            >>> AngleDegrees(90).to_radians()
            1.5707963267948966 radians
            >>> AngleDegrees(60).to_radians() == AngleRadians.third_pi()
            True
        """

    def __neg__(self) -> AngleDegrees:
        """The angle with its sign bit flipped (0 becomes -0)."""

    def __eq__(self, other: object) -> bool:
        """Exact IEEE equality of the stored numbers: 0 equals -0, a NaN angle equals nothing.

        An object that is not an AngleDegrees (an AngleRadians or a float included) is never equal.
        """

    def __ne__(self, other: object) -> bool:
        """The negation of `==`."""

    def __lt__(self, other: AngleDegrees) -> bool:
        """Exact IEEE ordering of the stored numbers (false whenever a NaN takes part).

        Only another AngleDegrees can be ordered against; anything else raises TypeError.
        """

    def __le__(self, other: AngleDegrees) -> bool:
        """Exact IEEE ordering of the stored numbers (false whenever a NaN takes part)."""

    def __gt__(self, other: AngleDegrees) -> bool:
        """Exact IEEE ordering of the stored numbers (false whenever a NaN takes part)."""

    def __ge__(self, other: AngleDegrees) -> bool:
        """Exact IEEE ordering of the stored numbers (false whenever a NaN takes part)."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class AngleRadians:
    """An angle in radians: the angle type that quaternions and `Vec3d.angle_to` take and give.

    AngleRadians(angle): `angle` is anything Python converts to a float; it is stored as it is,
    never wrapped into a period, clamped or checked. Radians add and subtract with radians, scale
    by a number (`a * 2`, not `2 * a`), compare exactly and are unhashable.

        >>> AngleRadians(1.5), AngleRadians(1) + AngleRadians(2), AngleRadians(1) * 2
        (1.5 radians, 3 radians, 2 radians)
        >>> AngleRadians(1e20), -AngleRadians.zero()
        (100000000000000000000 radians, -0 radians)

    The printed form is the number, written as the shortest decimal that reads back as the same
    double (never with an exponent or a trailing ".0"), then " radians".

    Raises:
        TypeError: `angle` is not convertible to a float ("argument 'angle': ...").
    """

    def __new__(cls, angle: float) -> AngleRadians:
        """An angle of `angle` radians, stored unchanged.

        Raises:
            TypeError: `angle` is not convertible to a float ("argument 'angle': ...").
        """

    @property
    def angle(self) -> float:
        """The stored number of radians.

        Assigning converts the new value to a float and stores it as it is.

            >>> turn = AngleRadians(1)
            >>> turn.angle = 3
            >>> turn
            3 radians

        Raises:
            TypeError: on assignment, a value not convertible to a float ("argument 'value': ...").
            RuntimeError: on assignment, "Already borrowed" while another thread reads this angle;
                on reading, "Already mutably borrowed" while another thread assigns it.
            AttributeError: on deletion, "property has no deleter".
        """

    @angle.setter
    def angle(self, value: float) -> None: ...
    @staticmethod
    def zero() -> AngleRadians:
        """A new angle of 0.0 radians (positive zero)."""

    @staticmethod
    def pi() -> AngleRadians:
        """A new angle of pi, 3.141592653589793 radians: the double nearest to pi.

        Every other constant is this double multiplied by 2 or divided by 2, 3, 4 or 6.
        It is a method: `AngleRadians.pi()` is the angle, `AngleRadians.pi` the function.
        """

    @staticmethod
    def two_pi() -> AngleRadians:
        """A new angle of 2·pi, 6.283185307179586 radians."""

    @staticmethod
    def half_pi() -> AngleRadians:
        """A new angle of pi/2, 1.5707963267948966 radians (90 degrees exactly by `to_degrees`)."""

    @staticmethod
    def third_pi() -> AngleRadians:
        """A new angle of pi/3 as computed in doubles, 1.0471975511965976 radians.

        That is one step below the double nearest to pi/3, so it converts to slightly less than
        60 degrees; `AngleDegrees(60).to_radians()` gives this same double.

            >>> AngleRadians.third_pi().to_degrees()
            59.99999999999999°
        """

    @staticmethod
    def quarter_pi() -> AngleRadians:
        """A new angle of pi/4, 0.7853981633974483 radians."""

    @staticmethod
    def sixth_pi() -> AngleRadians:
        """A new angle of pi/6 as computed in doubles, 0.5235987755982988 radians.

        Like `third_pi`, one step below the double nearest to pi/6: it converts to
        29.999999999999996 degrees.
        """

    def sin(self) -> float:
        """The sine of the angle, from the platform's C library.

            >>> AngleRadians.quarter_pi().sin()
            0.7071067811865475
        """

    def cos(self) -> float:
        """The cosine of the angle, from the platform's C library."""

    def tan(self) -> float:
        """The tangent of the angle, from the platform's C library; a pole gives a large number."""

    def sec(self) -> float:
        """The secant, 1 ÷ cos(angle); never raises (a pole gives an infinity or a large number)."""

    def csc(self) -> float:
        """The cosecant, 1 ÷ sin(angle); never raises (0 gives inf, -0 gives -inf)."""

    def cot(self) -> float:
        """The cotangent, 1 ÷ tan(angle) (not cos ÷ sin); never raises.

            >>> AngleRadians.quarter_pi().cot(), AngleRadians(0.0).cot(), AngleRadians(-0.0).cot()
            (1.0000000000000002, inf, -inf)
        """

    def to_degrees(self) -> AngleDegrees:
        """The same angle in degrees, computed as (radians × 180) ÷ pi, the product first.

            >>> AngleRadians.half_pi().to_degrees(), AngleRadians.pi().to_degrees()
            (90°, 180°)
        """

    def __add__(self, other: AngleRadians) -> AngleRadians:
        """The sum of two angles in radians; anything but an AngleRadians raises TypeError."""

    def __sub__(self, other: AngleRadians) -> AngleRadians:
        """The difference of two angles in radians; anything but an AngleRadians raises TypeError."""

    def __mul__(self, other: float) -> AngleRadians:
        """The angle times a number (anything convertible to a float); `2 * angle` raises TypeError."""

    def __truediv__(self, other: float) -> AngleRadians:
        """The angle divided by a number, unguarded: `AngleRadians(1) / 0` is inf radians."""

    def __neg__(self) -> AngleRadians:
        """The angle with its sign bit flipped (0 becomes -0, a NaN keeps its payload)."""

    def __eq__(self, other: object) -> bool:
        """Exact IEEE equality of the stored numbers: 0 equals -0, a NaN angle equals nothing.

        An object that is not an AngleRadians (an AngleDegrees or a float included) is never equal.

            >>> AngleRadians(0.0) == AngleRadians(-0.0), AngleRadians(1) == 1.0
            (True, False)
        """

    def __ne__(self, other: object) -> bool:
        """The negation of `==`."""

    def __lt__(self, other: AngleRadians) -> bool:
        """Exact IEEE ordering of the stored numbers (false whenever a NaN takes part).

        Only another AngleRadians can be ordered against; anything else raises TypeError.

            >>> sorted([AngleRadians(3), AngleRadians(1), AngleRadians(2)])
            [1 radians, 2 radians, 3 radians]
        """

    def __le__(self, other: AngleRadians) -> bool:
        """Exact IEEE ordering of the stored numbers (false whenever a NaN takes part)."""

    def __gt__(self, other: AngleRadians) -> bool:
        """Exact IEEE ordering of the stored numbers (false whenever a NaN takes part)."""

    def __ge__(self, other: AngleRadians) -> bool:
        """Exact IEEE ordering of the stored numbers (false whenever a NaN takes part)."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class Quat:
    """A quaternion of four doubles, w (the scalar part) then i, j, k, used to rotate vectors.

    Quat(w, i, j, k): each argument is anything Python converts to a float, stored as it is.
    Nothing is ever normalised behind your back: every operation uses the stored components.

    Conventions (the formulas are in docs/numerics.md, "The quaternion conventions"): a Quat
    stores the conjugate of the quaternion that scipy, PyGLM, Eigen or ROS use for the same
    rotation, and `rotate` turns counterclockwise (right-handed) about the axis given to
    `from_axis_angle`. Bring theirs in with `Quat.from_active(w, x, y, z)` and hand one out with
    `to_active()`; `Quat(w, x, y, z)` would rotate backwards.

        >>> q = Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians.half_pi())
        >>> q
        Quat(0.7071067811865476, -0, -0, -0.7071067811865475)
        >>> q.rotate(Vec3d(1, 0, 0))
        Vec3d(0.0000000000000002220446049250313, 1, 0)

    Quaternions are equal when every component differs by less than 2**-52; they have no
    ordering, no hash and no arithmetic operators: compose rotations with `then`.

    Raises:
        TypeError: an argument is not convertible to a float ("argument 'w': ..." and so on).
    """

    def __new__(cls, w: float, i: float, j: float, k: float) -> Quat:
        """The quaternion w + i·i + j·j + k·k, stored unchanged (not normalised).

        Raises:
            TypeError: an argument is not convertible to a float, naming the first that is not.
        """

    @property
    def w(self) -> float:
        """The scalar part.

        Assigning converts the new value to a float and stores it. Another thread can read the
        quaternion between two assignments: to change a rotation other threads use, hand them
        a new Quat instead.

        Raises:
            TypeError: on assignment, a value not convertible to a float ("argument 'value': ...").
            RuntimeError: on assignment, "Already borrowed" while another thread reads this
                quaternion; on reading, "Already mutably borrowed" while another thread assigns it.
            AttributeError: on deletion, "property has no deleter".
        """

    @w.setter
    def w(self, value: float) -> None: ...
    @property
    def i(self) -> float:
        """The first component of the vector part; assignable, with the errors of `w`."""

    @i.setter
    def i(self, value: float) -> None: ...
    @property
    def j(self) -> float:
        """The second component of the vector part; assignable, with the errors of `w`."""

    @j.setter
    def j(self, value: float) -> None: ...
    @property
    def k(self) -> float:
        """The third component of the vector part; assignable, with the errors of `w`."""

    @k.setter
    def k(self, value: float) -> None: ...
    @staticmethod
    def identity() -> Quat:
        """A new identity quaternion (1, 0, 0, 0): the rotation that changes nothing."""

    @staticmethod
    def from_axis_angle(axis: Vec3d, angle: AngleRadians) -> Quat:
        """The right-handed rotation by `angle` about `axis`.

        With h = angle × (-0.5) the result is (cos h, sin h·axis.x, sin h·axis.y, sin h·axis.z):
        the vector part carries the sine of minus half the angle (see the class's conventions).
        The axis is used as given, not normalised: give it unit length for a unit quaternion.

            >>> Quat.from_axis_angle(Vec3d(0, 0, 1), AngleDegrees(90).to_radians())
            Quat(0.7071067811865476, -0, -0, -0.7071067811865475)
            >>> Quat.from_axis_angle(Vec3d(0, 0, 1), 1.5)
            Traceback (most recent call last):
              ...
            TypeError: argument 'angle': 'float' object is not an instance of 'AngleRadians'

        Args:
            axis: the axis of rotation, a Vec3d.
            angle: the angle, an AngleRadians; a plain float is refused (convert degrees with
                `AngleDegrees(d).to_radians()`).

        Returns:
            A new Quat.

        Raises:
            TypeError: `axis` is not a Vec3d or `angle` not an AngleRadians, naming the argument
                (`axis` first when both are wrong).
            RuntimeError: "Already mutably borrowed" while another thread assigns to an argument.
        """

    def conjugate(self) -> Quat:
        """A new quaternion (w, -i, -j, -k), each sign bit flipped: the opposite rotation of a unit one."""

    def magnitude(self) -> float:
        """The length √(((w·w + i·i) + j·j) + k·k)."""

    def normalize(self) -> Quat:
        """A new quaternion with each component divided by the magnitude.

        The zero quaternion gives four NaN; nothing raises.

            >>> Quat(2, 0, 0, 0).normalize(), Quat(0, 0, 0, 0).normalize()
            (Quat(1, 0, 0, 0), Quat(NaN, NaN, NaN, NaN))
        """

    def to_vec3d(self) -> tuple[float, float, float]:
        """The vector part (i, j, k) as a plain tuple of three floats, not a Vec3d."""

    def is_unit(self) -> bool:
        """Whether the magnitude is within 2**-52 of one, strictly: |magnitude - 1| < 2**-52."""

    def to_axis_angle(self) -> tuple[Vec3d, AngleRadians]:
        """The rotation as an axis and an angle: a new Vec3d and a new AngleRadians.

        With a = acos(w), the angle is a + a and the axis the vector part divided by
        sin(angle ÷ 2). When w is within 2**-52 of one the result is the x axis with angle 0.
        Nothing is normalised: a w outside [-1, 1] gives NaN. For a quaternion made by
        `from_axis_angle` with an angle between 0 and 2·pi the result is the opposite axis with
        the same angle, which is the same rotation.

            >>> Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians.half_pi()).to_axis_angle()
            (Vec3d(-0, -0, -1), 1.5707963267948966 radians)
            >>> Quat.identity().to_axis_angle()
            (Vec3d(1, 0, 0), 0 radians)
        """

    def to_rotation_matrix(self) -> list[list[float]]:
        """The 3 × 3 matrix of q ⊗ v ⊗ q̄ as three rows of three floats.

        That is the transpose of the matrix `rotate` applies: for a unit quaternion,
        `q.rotate(v)` is the transposed matrix times v, so with numpy rotate row vectors as
        `points @ numpy.array(q.to_rotation_matrix())`. The matrix is not normalised.

            >>> Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians.half_pi()).to_rotation_matrix()
            [[2.220446049250313e-16, 1.0, 0.0], [-1.0, 2.220446049250313e-16, 0.0], [0.0, 0.0, 1.0]]
        """

    def rotate(self, v: Vec3d) -> Vec3d:
        """The vector `v` rotated: the vector part of q̄ ⊗ (0, v) ⊗ q.

        Nothing is normalised: a quaternion of magnitude m also scales the vector by m².

            >>> Quat.from_axis_angle(Vec3d(1, 0, 0), AngleRadians.half_pi()).rotate(Vec3d(0, 1, 0))
            Vec3d(0, 0.0000000000000002220446049250313, 1)
            >>> Quat(2, 0, 0, 0).rotate(Vec3d(1, 2, 3))
            Vec3d(4, 8, 12)

        Args:
            v: the vector to rotate, a Vec3d; it is not changed.

        Returns:
            A new Vec3d.

        Raises:
            TypeError: `v` is not a Vec3d ("argument 'v': ...").
            RuntimeError: "Already mutably borrowed" while another thread assigns to this
                quaternion or to `v`.
        """

    @staticmethod
    def from_active(w: float, x: float, y: float, z: float) -> Quat:
        """The Quat that rotates vectors as the active unit quaternion (w, x, y, z) does.

        Active quaternions, as scipy's Rotation (its scalar moved first), PyGLM, Eigen and ROS
        hold them, turn v into p ⊗ v ⊗ p̄. A Quat stores the conjugate (see the class's
        conventions), so the result is (w, -x, -y, -z), each sign bit flipped. From scipy, whose
        scalar comes last: `x, y, z, w = r.as_quat()`, then `Quat.from_active(w, x, y, z)`; from
        PyGLM: `Quat.from_active(g.w, g.x, g.y, g.z)`.

            >>> Quat.from_active(0.7071067811865476, 0.0, 0.0, 0.7071067811865475).rotate(Vec3d(1, 0, 0))
            Vec3d(0.0000000000000002220446049250313, 1, 0)

        Args:
            w: the scalar part of the active quaternion.
            x: the first component of its vector part.
            y: the second component of its vector part.
            z: the third component of its vector part.

        Returns:
            A new Quat.

        Raises:
            TypeError: an argument is not convertible to a float ("argument 'z': ..." and so on).
        """

    def to_active(self) -> tuple[float, float, float, float]:
        """The active quaternion of the same rotation, (w, -i, -j, -k), scalar first.

        It is what other libraries expect (see `from_active`), and `Quat.from_active(*q.to_active())`
        gives back q's exact bits. For scipy, whose scalar comes last: `w, x, y, z = q.to_active()`,
        then `Rotation.from_quat([x, y, z, w])`.

            >>> Quat(0.5, -0.5, -0.5, -0.5).to_active()
            (0.5, 0.5, 0.5, 0.5)
        """

    def then(self, other: Quat) -> Quat:
        """The rotation by this quaternion followed by the rotation by `other`.

        It is the Hamilton product self ⊗ other, so `q.then(r).rotate(v)` equals
        `r.rotate(q.rotate(v))` up to rounding. Nothing is normalised.

            >>> z90 = Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians.half_pi())
            >>> z90.then(z90).rotate(Vec3d(1, 0, 0))
            Vec3d(-1, 0.0000000000000004440892098500626, 0)

        Args:
            other: the rotation applied second, a Quat.

        Returns:
            A new Quat.

        Raises:
            TypeError: `other` is not a Quat ("argument 'other': ...").
            RuntimeError: "Already mutably borrowed" while another thread assigns to either
                quaternion.
        """

    def inverse(self) -> Quat:
        """The conjugate divided by the squared magnitude: the opposite rotation.

        For a unit quaternion it equals `conjugate()` up to rounding. The zero quaternion gives
        four NaN; nothing raises.

            >>> Quat(2, 0, 0, 0).inverse(), Quat(0, 0, 0, 0).inverse()
            (Quat(0.5, -0, -0, -0), Quat(NaN, NaN, NaN, NaN))
        """

    def slerp(self, other: Quat, t: float) -> Quat:
        """Spherical linear interpolation from this rotation to `other`, along the shorter arc.

        `other` is negated first when the dot product of the four components is negative, so the
        path never goes the long way round. t = 0 gives this quaternion, t = 1 gives `other` (or
        its negation); t is not clamped. For unit inputs the result is a unit quaternion, also
        for equal or nearly equal inputs, which never give NaN.

            >>> z90 = Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians.half_pi())
            >>> Quat.identity().slerp(z90, 0.5)
            Quat(0.9238795325112868, 0, 0, -0.3826834323650898)

        Args:
            other: the rotation reached at t = 1, a Quat.
            t: the fraction of the arc, anything convertible to a float.

        Returns:
            A new Quat.

        Raises:
            TypeError: `other` is not a Quat or `t` not convertible to a float, naming the argument.
            RuntimeError: "Already mutably borrowed" while another thread assigns to either
                quaternion.
        """

    @staticmethod
    def from_rotation_matrix(matrix: collections.abc.Sequence[collections.abc.Sequence[float]]) -> Quat:
        """The quaternion whose `to_rotation_matrix()` is `matrix`, up to sign.

        `to_rotation_matrix()` is the transpose of the matrix that `rotate` applies, so a matrix
        that rotates column vectors (scipy's `as_matrix()`, PyGLM's `glm.mat3_cast`) goes in
        transposed. The matrix is not checked for being a rotation and the result is not
        normalised; for a rotation matrix it is q or -q, which rotate alike.

            >>> Quat.from_rotation_matrix([[0, 1, 0], [-1, 0, 0], [0, 0, 1]])
            Quat(0.7071067811865476, 0, 0, -0.7071067811865475)
            >>> Quat.from_rotation_matrix([[1, 0, 0], [0, 1, 0]])
            Traceback (most recent call last):
              ...
            ValueError: argument 'matrix': expected a sequence of 3 rows of 3 floats, got 2 rows

        Args:
            matrix: three rows of three floats: lists, tuples or a numpy array.

        Returns:
            A new Quat.

        Raises:
            TypeError: `matrix` or one of its rows is not a sequence, or an entry is not
                convertible to a float ("argument 'matrix': ...").
            ValueError: there are not three rows of three entries; the text says what came.
        """

    @staticmethod
    def from_euler(seq: str, a: AngleRadians, b: AngleRadians, c: AngleRadians) -> Quat:
        """The rotation by the angles a, b and c about the three axes named in `seq`.

        It rotates vectors as scipy's `Rotation.from_euler(seq, [a, b, c])` does. Lower-case
        letters are rotations about the fixed axes, applied in the order written (extrinsic);
        upper-case letters turn about the axes as the earlier rotations left them (intrinsic).
        All twelve sequences work in both cases: the six of three different axes ("xyz", ...)
        and the six that repeat the first axis ("zxz", ...).

            >>> yaw = Quat.from_euler("ZYX", AngleRadians.half_pi(), AngleRadians(0), AngleRadians(0))
            >>> yaw.rotate(Vec3d(1, 0, 0))
            Vec3d(0.0000000000000002220446049250313, 1, 0)

        Args:
            seq: three of the letters x, y, z, all lower case or all upper case, with no axis
                twice in a row.
            a: the angle about the first axis, an AngleRadians (a float is refused).
            b: the angle about the second axis, an AngleRadians.
            c: the angle about the third axis, an AngleRadians.

        Returns:
            A new Quat.

        Raises:
            ValueError: `seq` is not such a sequence; the text quotes it.
            TypeError: `seq` is not a str or an angle not an AngleRadians, naming the argument.
            RuntimeError: "Already mutably borrowed" while another thread assigns to an angle.
        """

    def to_euler(self, seq: str) -> tuple[AngleRadians, AngleRadians, AngleRadians]:
        """Three angles that `Quat.from_euler(seq, ...)` turns back into this rotation.

        The first and the third lie in [-pi, pi]; the second in [-pi/2, pi/2] for three different
        axes and in [0, pi] when the first axis is repeated. At gimbal lock (the middle angle at
        +-pi/2 for three different axes, at 0 or pi otherwise, up to rounding), where only the sum
        or the difference of the outer angles is determined, the third angle, the one applied
        last, is 0. The magnitude of the quaternion does not change the angles.

            >>> Quat.from_euler("zxz", AngleRadians(0.5), AngleRadians(1), AngleRadians(0.25)).to_euler("zxz")
            (0.5 radians, 1 radians, 0.25 radians)

        Args:
            seq: as for `from_euler`.

        Returns:
            A tuple of three new AngleRadians, in the order of `seq`.

        Raises:
            ValueError: `seq` is not a valid sequence; the text quotes it.
            TypeError: `seq` is not a str ("argument 'seq': ...").
        """

    @staticmethod
    def rotation_between(a: Vec3d, b: Vec3d) -> Quat:
        """The shortest rotation that turns the direction of `a` onto the direction of `b`.

        The result is a unit quaternion: `rotate(a)` is parallel to `b` and as long as `a`.
        Opposite directions give a half turn about an axis perpendicular to `a`; non-zero finite
        vectors never give NaN.

            >>> Quat.rotation_between(Vec3d(1, 0, 0), Vec3d(0, 2, 0)).rotate(Vec3d(1, 0, 0))
            Vec3d(0.0000000000000002220446049250313, 1, 0)

        Args:
            a: the direction to turn from, a non-zero Vec3d.
            b: the direction to turn to, a non-zero Vec3d.

        Returns:
            A new Quat.

        Raises:
            TypeError: `a` or `b` is not a Vec3d, naming the argument.
            RuntimeError: "Already mutably borrowed" while another thread assigns to an argument.
        """

    def __eq__(self, other: object) -> bool:
        """Equality within 2**-52 per component, absolute and strict; a NaN component equals nothing.

        An object that is not a Quat is never equal. If another thread is assigning to `other`
        at that moment, PanicException ("Already mutably borrowed: PyBorrowError") is raised.

            >>> Quat(1, 0, 0, 0) == Quat(1, 1e-16, 0, 0), Quat(1, 0, 0, 0) == Quat(1, 3e-16, 0, 0)
            (True, False)
        """

    def __ne__(self, other: object) -> bool:
        """The exact negation of `==`."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class VecList:
    """A list of vectors stored as one array of doubles, with batch operations on worker threads.

    VecList(list): a copy of any sequence of Vec3d (a list, a tuple, another VecList). The list
    holds values, never Python objects: every element handed out is a new Vec3d, and changing
    it does not change the list. Batch operations apply one Vec3d operation to every element on
    the module's pool of worker threads; their results are in index order and bit for bit those
    of a loop over the elements, with any number of workers.

        >>> points = VecList([Vec3d(3, 4, 0), Vec3d(0, 0, 2)])
        >>> points
        [Vec3d(3, 4, 0)
        Vec3d(0, 0, 2)]
        >>> len(points), points[1], points.magnitude()
        (2, Vec3d(0, 0, 2), [5.0, 2.0])

    numpy reads it without a copy: `numpy.asarray(points)` is a read-only (n, 3) float64 view,
    and `VecList.from_array(array)` copies an array in. The `_array` methods give their results
    as buffers instead of lists (`magnitude_array()`, `dot_array(w)`, ...), and the
    `_elementwise` methods combine two lists of the same length element by element. It pickles
    as one block of doubles.

    Threads: any number of calls may read one list at once. `append`, `extend` and `rotate` need
    it to themselves and raise RuntimeError "Already borrowed" while anything else uses it,
    including a live buffer view; a read during one of them raises "Already mutably borrowed".

    Raises:
        TypeError: the argument is a str, is not a sequence, or holds something other than a
            Vec3d ("argument 'list': ...").
    """

    def __new__(cls, list: collections.abc.Sequence[Vec3d]) -> VecList:
        """A new list holding copies of the vectors of `list`, in order.

        Raises:
            TypeError: `list` is a str ("Can't extract `str` to `Vec`"), is not a sequence (a set,
                a generator), or holds an item that is not a Vec3d, always as "argument 'list': ...".
            RuntimeError: "Already mutably borrowed" while another thread assigns to an item.
        """

    @staticmethod
    def empty() -> VecList:
        """A new list with no elements."""

    @staticmethod
    def from_array(a: collections.abc.Buffer) -> VecList:
        """A new list copied from a buffer of numbers in one step: the fast way to load a cloud.

        The buffer may hold float64 in either byte order, float32 (widened exactly, the usual
        format of scanned point clouds) or signed or unsigned integers of 1, 2, 4 or 8 bytes,
        which become the double that `float()` gives for the same int (rounded to nearest, ties
        to even, beyond 2**53).

            >>> import array
            >>> VecList.from_array(array.array("d", [0, 1, 2, 3, 4, 5]))
            [Vec3d(0, 1, 2)
            Vec3d(3, 4, 5)]
            >>> VecList.from_array(array.array("f", [1.5, -2, 0.1]))
            [Vec3d(1.5, -2, 0.10000000149011612)]

        Args:
            a: any object exporting a buffer (a numpy array, an array.array, a memoryview) of
                shape (n, 3), or flat with length 3n; strided buffers are accepted.

        Returns:
            A new VecList of n vectors; the buffer is not kept.

        Raises:
            TypeError: `a` exports no buffer, or one of another format, such as float16 or bool
                ("argument 'a': expected a buffer of float64 (format 'd'), got format 'e' with
                2-byte items").
            ValueError: the shape is neither (n, 3) nor (3n,) ("argument 'a': expected a buffer
                of shape (n, 3) or of length 3n, got shape (4,)").
        """
    # `list` is a member here, so the builtin is spelled out in the annotations below.
    @property
    def list(self) -> builtins.list[Vec3d]:
        """A new Python list of new Vec3d objects, one per element, in order (read only)."""

    def append(self, vec: Vec3d) -> None:
        """Adds a copy of `vec` at the end.

        Raises:
            TypeError: `vec` is not a Vec3d ("argument 'vec': ..."); the list is unchanged.
            RuntimeError: "Already borrowed" while anything else uses the list, a buffer view
                (`numpy.asarray(the_list)`) included; "Already mutably borrowed" while another
                thread assigns to `vec`.
        """

    def extend(self, other: VecList) -> None:
        """Adds copies of all elements of `other` at the end.

        The list is taken for writing before `other` is read, so a list cannot extend itself.

            >>> points = VecList([Vec3d(1, 2, 3)])
            >>> points.extend(points)
            Traceback (most recent call last):
              ...
            RuntimeError: Already mutably borrowed

        Raises:
            TypeError: `other` is not a VecList ("argument 'other': ..."); pass
                `VecList(items)` to add a Python list.
            RuntimeError: "Already borrowed" while anything else uses this list; "Already
                mutably borrowed" for `v.extend(v)` or while `other` is being written.
        """

    def to_array(self) -> builtins.list[builtins.list[float]]:
        """The elements as a new Python list of [x, y, z] lists of floats."""

    def dot(self, other: Vec3d) -> builtins.list[float]:
        """The dot product of every element with `other`, as a Python list of floats.

        Each value has the bits of `element.dot(other)`: (x·ox + y·oy) + z·oz.

            >>> VecList([Vec3d(1, 2, 3), Vec3d(0.5, -1, 0)]).dot(Vec3d(1, 1, 1))
            [6.0, -0.5]

        Raises:
            TypeError: `other` is not a Vec3d ("argument 'other': ...").
            RuntimeError: "Already mutably borrowed" while another thread writes this list or
                assigns to `other`.
        """

    def cross(self, other: Vec3d) -> VecList:
        """A new list of every element crossed with `other` (element on the left).

        Raises:
            TypeError: `other` is not a Vec3d ("argument 'other': ...").
            RuntimeError: "Already mutably borrowed" while another thread writes this list or
                assigns to `other`.
        """

    def distance_to(self, other: Vec3d) -> builtins.list[float]:
        """The distance of every element to the point `other`, as a Python list of floats.

        Raises:
            TypeError: `other` is not a Vec3d ("argument 'other': ...").
            RuntimeError: "Already mutably borrowed" while another thread writes this list or
                assigns to `other`.
        """

    def distance_squared(self, other: Vec3d) -> builtins.list[float]:
        """The squared distance of every element to the point `other`, as a Python list of floats.

        Raises:
            TypeError: `other` is not a Vec3d ("argument 'other': ...").
            RuntimeError: "Already mutably borrowed" while another thread writes this list or
                assigns to `other`.
        """

    def magnitude(self) -> builtins.list[float]:
        """The length of every element, as a Python list of floats.

        Raises:
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def normalize(self) -> VecList:
        """A new list of every element divided by its length; a zero element gives NaN components.

        Raises:
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def is_unit(self) -> builtins.list[bool]:
        """For every element, whether its computed length is within 2**-52 of one, strictly.

            >>> VecList([Vec3d(0.6, 0.8, 0), Vec3d(1 + 2**-52, 0, 0)]).is_unit()
            [True, False]

        Raises:
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def collapse(self, axis: int) -> VecList:
        """A new list with component `axis` (0 = x, 1 = y, 2 = z) of every element set to +0.

        It projects every element onto a coordinate plane.

            >>> VecList([Vec3d(1, 2, 3)]).collapse(1)
            [Vec3d(1, 0, 3)]

        Args:
            axis: 0, 1 or 2.

        Raises:
            TypeError: `axis` is not an integer ("argument 'axis': ...").
            OverflowError: `axis` is negative.
            PanicException: `axis` is above 2 ("assertion failed: axis <= 2"); it derives from
                BaseException, as a programming error, not from Exception.
        """

    def rotate(self, quat: Quat) -> None:
        """Rotates every element by `quat` in place, with the bits of `quat.rotate(element)`.

        `rotated(quat)` gives a rotated copy instead and leaves the list as it is.

        The rotated elements are computed into a new array that then replaces the old one, so a
        failure leaves the list as it was, and iterators made before keep the old values.

        Args:
            quat: the rotation, a Quat; it is not normalised first.

        Raises:
            TypeError: `quat` is not a Quat ("argument 'quat': ...").
            RuntimeError: "Already borrowed" while anything else uses the list (another thread's
                call, or a live buffer view such as `numpy.asarray(the_list)`); the list is
                unchanged.
        """

    def rotated(self, quat: Quat) -> VecList:
        """A new list of every element rotated by `quat`, with the bits of `quat.rotate(element)`.

        The list itself is only read and stays as it is; `rotate` changes it in place instead.

            >>> VecList([Vec3d(1, 2, 3)]).rotated(Quat(0, 0, 0, 1))
            [Vec3d(-1, -2, 3)]

        Args:
            quat: the rotation, a Quat; it is not normalised first.

        Returns:
            A new VecList of the same length.

        Raises:
            TypeError: `quat` is not a Quat ("argument 'quat': ...").
            RuntimeError: "Already mutably borrowed" while another thread writes this list or
                assigns to `quat`.
        """

    def minimum_distance_to(self, other: Vec3d, stride: int) -> tuple[int, float]:
        """The index of the element nearest to `other`, and its distance, searched in two passes.

        A coarse pass measures every `stride`-th element (indices 0, stride, 2·stride, ...); a
        fine pass then measures the elements from `stride` places before to `stride` - 1 places
        after the best of those. With stride 1 the answer is exact; a larger stride measures about
        n / stride + 2·stride distances instead of n, and finds the true nearest element only when
        it lies in that window in the list's order (as in a scan delivered line by line). Ties go
        to the lower index.

            >>> row = VecList([Vec3d(x, 0, 0) for x in (0, 100, 5, 100, 100, 6)])
            >>> row.minimum_distance_to(Vec3d(7, 0, 0), 1), row.minimum_distance_to(Vec3d(7, 0, 0), 2)
            ((5, 1.0), (2, 2.0))

        Args:
            other: the point, a Vec3d.
            stride: the step of the coarse pass, at least 1.

        Returns:
            (index, distance), with the distance equal to `self.distance_to(other)[index]`.

        Raises:
            TypeError: `other` is not a Vec3d or `stride` not an integer, naming the argument.
            OverflowError: `stride` is negative.
            PanicException: `stride` is 0 ("assertion failed: stride != 0") or the list is empty
                ("called `Option::unwrap()` on a `None` value"); it derives from BaseException.
        """

    def dot_array(self, other: Vec3d) -> memoryview:
        """The dot product of every element with `other`, as a buffer rather than a list of floats.

        Bit for bit what `dot(other)` gives, without a Python float per element. The result is a
        writable, one-dimensional, C-contiguous memoryview of format "d" and shape (n,) over the
        result array itself: `numpy.asarray()` of it shares its memory, `tolist()` of it equals
        `dot(other)`, and it keeps no borrow of the list.

            >>> VecList([Vec3d(1, 2, 3), Vec3d(0.5, -1, 0)]).dot_array(Vec3d(1, 1, 1)).tolist()
            [6.0, -0.5]

        Args:
            other: a Vec3d.

        Returns:
            A memoryview of format "d" and shape (n,).

        Raises:
            TypeError: `other` is not a Vec3d ("argument 'other': ...").
            RuntimeError: "Already mutably borrowed" while another thread writes this list or
                assigns to `other`.
        """

    def distance_to_array(self, other: Vec3d) -> memoryview:
        """The distance of every element to the point `other`, as a buffer like `dot_array`'s.

        Bit for bit what `distance_to(other)` gives; it raises as `dot_array` does.

            >>> VecList([Vec3d(3, 4, 0)]).distance_to_array(Vec3d(0, 0, 0)).tolist()
            [5.0]
        """

    def distance_squared_array(self, other: Vec3d) -> memoryview:
        """The squared distance of every element to `other`, as a buffer like `dot_array`'s.

        Bit for bit what `distance_squared(other)` gives; it raises as `dot_array` does.
        """

    def magnitude_array(self) -> memoryview:
        """The length of every element, as a buffer like `dot_array`'s.

        Bit for bit what `magnitude()` gives.

            >>> import numpy
            >>> numpy.asarray(VecList([Vec3d(3, 4, 0), Vec3d(0, 0, 2)]).magnitude_array())
            array([5., 2.])

        Raises:
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def is_unit_array(self) -> memoryview:
        """For every element, whether its length is within 2**-52 of one, as a buffer of bools.

        What `is_unit()` gives, in a buffer like `dot_array`'s but of format "?".

            >>> VecList([Vec3d(0.6, 0.8, 0), Vec3d(2, 0, 0)]).is_unit_array().tolist()
            [True, False]

        Raises:
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def add_elementwise(self, other: VecList) -> VecList:
        """A new list whose element i is `self[i] + other[i]`.

        The `_elementwise` methods pair element i of this list (on the left) with element i of
        `other` and apply the Vec3d operation of that name, so each result has its bits.
        `other` may be this list itself.

            >>> pair = VecList([Vec3d(1, 2, 3), Vec3d(0.5, -1, 0)])
            >>> pair.add_elementwise(pair)
            [Vec3d(2, 4, 6)
            Vec3d(1, -2, 0)]

        Args:
            other: a VecList of the same length.

        Returns:
            A new VecList.

        Raises:
            TypeError: `other` is not a VecList ("argument 'other': ...").
            ValueError: the lengths differ ("the lists differ in length: this list has 2
                elements, other has 0").
            RuntimeError: "Already mutably borrowed" while another thread writes either list.
        """

    def sub_elementwise(self, other: VecList) -> VecList:
        """A new list whose element i is `self[i] - other[i]`; `other` as for `add_elementwise`.

        Triangle normals of a mesh, (b - a) × (c - a) for every triangle, without a Python loop:

            >>> a = VecList([Vec3d(0, 0, 0), Vec3d(1, 1, 1)])
            >>> b = VecList([Vec3d(1, 0, 0), Vec3d(1, 2, 1)])
            >>> c = VecList([Vec3d(0, 1, 0), Vec3d(1, 1, 2)])
            >>> b.sub_elementwise(a).cross_elementwise(c.sub_elementwise(a))
            [Vec3d(0, 0, 1)
            Vec3d(1, 0, 0)]
        """

    def cross_elementwise(self, other: VecList) -> VecList:
        """A new list whose element i is `self[i].cross(other[i])`; `other` as for `add_elementwise`."""

    def dot_elementwise(self, other: VecList) -> memoryview:
        """`self[i].dot(other[i])` for every i, as a buffer like `dot_array`'s.

        `other` is a VecList of the same length, as for `add_elementwise`, which says what
        raises.

            >>> pair = VecList([Vec3d(1, 2, 3), Vec3d(0.5, -1, 0)])
            >>> pair.dot_elementwise(pair).tolist()
            [14.0, 1.25]
        """

    def distance_to_elementwise(self, other: VecList) -> memoryview:
        """`self[i].distance_to(other[i])` for every i, as a buffer like `dot_array`'s.

        `other` is a VecList of the same length, as for `add_elementwise`.
        """

    def distance_squared_elementwise(self, other: VecList) -> memoryview:
        """`self[i].distance_squared(other[i])` for every i, as a buffer like `dot_array`'s.

        `other` is a VecList of the same length, as for `add_elementwise`.
        """

    def sum(self) -> Vec3d:
        """The sum of the elements, component by component, in an order fixed for every worker count.

        The list is cut into blocks of 4,096 consecutive elements (the last may be shorter); each
        block's sum starts from its first element and adds the others left to right, and the
        total starts from the first block's sum and adds the other blocks' sums left to right.
        An empty list sums to Vec3d(0, 0, 0).

            >>> VecList([Vec3d(1, 2, 3), Vec3d(0.5, -1, 0)]).sum()
            Vec3d(1.5, 1, 3)

        Raises:
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def mean(self) -> Vec3d:
        """`sum()` with each component divided by the length (three divisions).

            >>> VecList([Vec3d(1, 2, 3), Vec3d(0.5, -1, 0)]).mean()
            Vec3d(0.75, 0.5, 1.5)

        Raises:
            ValueError: the list is empty ("the list is empty").
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def bounds(self) -> tuple[Vec3d, Vec3d]:
        """The component-wise least and greatest values, as a new pair (least, greatest).

        -0.0 counts below 0.0. A NaN in a component makes that component of both results NaN
        (the first NaN of that component, in index order), as numpy's `min` and `max` do.

            >>> VecList([Vec3d(1, -2, 0), Vec3d(-1, 5, -0.0)]).bounds()
            (Vec3d(-1, -2, -0), Vec3d(1, 5, 0))

        Raises:
            ValueError: the list is empty ("the list is empty").
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def take(self, indices: collections.abc.Sequence[int] | collections.abc.Buffer) -> VecList:
        """A new list of the elements at `indices`, in that order; repeats are allowed.

            >>> VecList([Vec3d(0, 0, 0), Vec3d(1, 1, 1), Vec3d(2, 2, 2)]).take([2, 0, 2])
            [Vec3d(2, 2, 2)
            Vec3d(0, 0, 0)
            Vec3d(2, 2, 2)]

        Args:
            indices: a sequence of int (anything with `__index__`), or a one-dimensional buffer of
                signed or unsigned integers of 1, 2, 4 or 8 bytes in this machine's byte order (a
                numpy array, an `array.array`, a memoryview, a ctypes array), read in place with
                any stride.

        Raises:
            IndexError: an index is negative or not below the length; the first such index is
                named ("index 5 is out of range for a list of 3 elements").
            TypeError: `indices` is neither, or holds something else ("argument 'indices': ...").
            ValueError: a buffer of more than one dimension ("argument 'indices': expected a
                one-dimensional buffer, got shape (2, 2)").
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def take_triangles(
        self, faces: collections.abc.Sequence[collections.abc.Sequence[int]] | collections.abc.Buffer
    ) -> tuple[VecList, VecList, VecList]:
        """The first, second and third corners of every face, as three new lists.

        Per-face normals are then the cross products of two edge lists:

            >>> vertices = VecList([Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(0, 1, 0)])
            >>> a, b, c = vertices.take_triangles([[0, 1, 2], [0, 2, 1]])
            >>> b.sub_elementwise(a).cross_elementwise(c.sub_elementwise(a))
            [Vec3d(0, 0, 1)
            Vec3d(0, 0, -1)]

        Args:
            faces: an (m, 3) buffer of integers (any stride), or a sequence of m sequences of
                three ints.

        Raises:
            IndexError: as for `take`.
            TypeError, ValueError: `faces` is not of that form ("argument 'faces': ...").
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def select(self, mask: collections.abc.Sequence[bool] | collections.abc.Buffer) -> VecList:
        """A new list of the elements whose `mask` entry is true, in order.

            >>> VecList([Vec3d(0, 0, 0), Vec3d(1, 1, 1), Vec3d(2, 2, 2)]).select([True, False, True])
            [Vec3d(0, 0, 0)
            Vec3d(2, 2, 2)]

        Args:
            mask: a sequence of bool, or a one-dimensional buffer of bools or integers (non-zero is
                true), one entry per element.

        Raises:
            ValueError: the lengths differ ("the lengths differ: this list has 3 elements, mask
                has 1").
            TypeError: an entry is not a bool, or the buffer holds other numbers
                ("argument 'mask': ...").
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def scaled_elementwise(self, factors: collections.abc.Sequence[float] | collections.abc.Buffer) -> VecList:
        """A new list whose element i is `self[i] * factors[i]`, with the bits of Vec3d's `*`.

            >>> VecList([Vec3d(1, 2, 3), Vec3d(0.5, -1, 0)]).scaled_elementwise([2, -1])
            [Vec3d(2, 4, 6)
            Vec3d(-0.5, 1, -0)]

        Args:
            factors: a sequence of floats (anything `float()` accepts), or a one-dimensional buffer
                of float64, float32 or integers, one factor per element.

        Raises:
            ValueError: the lengths differ ("the lengths differ: this list has 2 elements,
                factors has 1").
            TypeError: a factor is not a number ("argument 'factors': ...").
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def distance_to_plane_array(self, plane: geometry.Plane) -> memoryview:
        """`plane.distance_to_point(p)` for every element p, as a buffer like `dot_array`'s.

            >>> points = VecList([Vec3d(0, 0, 3), Vec3d(0, 0, -1)])
            >>> points.distance_to_plane_array(geometry.Plane(Vec3d(0, 0, 1), 1)).tolist()
            [2.0, 2.0]

        Raises:
            TypeError: `plane` is not a Plane ("argument 'plane': ...").
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def signed_distance_to_plane_array(self, plane: geometry.Plane) -> memoryview:
        """`plane.distance + plane.normal.dot(p)` for every element p: the distance with its sign.

        The same sum as `distance_to_plane_array` without the absolute value, positive on the
        side the normal points to.

            >>> points = VecList([Vec3d(0, 0, 3), Vec3d(0, 0, -1)])
            >>> points.signed_distance_to_plane_array(geometry.Plane(Vec3d(0, 0, 1), 1)).tolist()
            [2.0, -2.0]

        Raises:
            TypeError: `plane` is not a Plane ("argument 'plane': ...").
            RuntimeError: "Already mutably borrowed" while another thread writes this list.
        """

    def __array__(self, dtype: Any = None, copy: bool | None = None) -> Any:
        """numpy's conversion, the same read-only view as the buffer export.

        numpy calls it only when the buffer export has failed; it exports again, so a list that
        another thread holds for writing raises RuntimeError "Already mutably borrowed" rather
        than becoming an array of Python objects.
        """

    def __buffer__(self, flags: int, /) -> memoryview:
        """A read-only (n, 3) float64 view of the elements, without a copy.

        While the view is alive the list is borrowed for reading: `append`, `extend` and
        `rotate` raise RuntimeError "Already borrowed" until it is released. Asking for a
        writable buffer raises BufferError.
        """

    def __release_buffer__(self, buffer: memoryview, /) -> None:
        """Releases a view made by `__buffer__`, and with it the read borrow."""

    def __len__(self) -> int:
        """The number of elements; an empty list is false."""

    def __getitem__(self, index: int) -> Vec3d:
        """A new Vec3d holding a copy of element `index`; no negative index, no slicing.

        Raises:
            IndexError: `index` is not below the length ("Index out of bounds").
            OverflowError: `index` is negative.
            TypeError: `index` is not an integer (a slice included), as "argument 'index': ...".
        """

    def __iter__(self) -> VecListIterator:
        """An iterator over a copy of the elements, taken now: later changes do not reach it."""

    def __add__(self, other: Vec3d) -> VecList:
        """A new list of every element plus the vector `other`.

        The list takes only a Vec3d; with anything else Python asks the other operand, and
        raises TypeError when that refuses too. A numpy array does not refuse: it reads the list
        as an (n, 3) array, so `points + np.array([1., 2., 3.])` is an ndarray, not a VecList.

            >>> import numpy as np
            >>> (VecList([Vec3d(1, 2, 3)]) + np.array([1.0, 2.0, 3.0])).tolist()
            [[2.0, 4.0, 6.0]]
        """

    def __sub__(self, other: Vec3d) -> VecList:
        """A new list of every element minus the vector `other`.

        The list takes only a Vec3d; with anything else Python asks the other operand, and
        raises TypeError when that refuses too. A numpy array answers with an ndarray.
        """

    def __mul__(self, rhs: float) -> VecList:
        """A new list of every element times a number (anything convertible to a float)."""

    def __rmul__(self, lhs: float) -> VecList:
        """A new list of every element times a number: `2 * points` equals `points * 2`.

        Python asks the left operand first: a numpy scalar on the left answers itself and reads
        the list as an array, so `np.float64(2) * points` is an ndarray (`points * np.float64(2)`
        is a VecList).

            >>> import numpy as np
            >>> type(np.float64(2) * VecList([Vec3d(1, 2, 3)])).__name__, VecList([Vec3d(1, 2, 3)]) * np.float64(2)
            ('ndarray', [Vec3d(2, 4, 6)])
        """

    def __truediv__(self, rhs: float) -> VecList:
        """A new list of every element divided by a number, component by component, unguarded."""

@final
class VecListIterator:
    """An iterator over a VecList, made by `iter()` of one; it cannot be created directly.

    It owns a copy of the elements taken when it was made, so it keeps working whatever happens
    to the list afterwards. Two threads advancing one iterator at the same moment make one of
    them fail with RuntimeError "Already borrowed".
    """

    def __iter__(self) -> VecListIterator:
        """The iterator itself."""
    # Exhaustion raises StopIteration rather than returning None, so iteration yields Vec3d.
    def __next__(self) -> Vec3d:
        """The next element as a new Vec3d; StopIteration at the end, and ever after."""

@final
class Vec3d:
    """A vector of three 64-bit doubles x, y, z: the value every other class takes and returns.

    Vec3d(x, y, z): each argument is anything Python converts to a float, stored as it is; any
    double is allowed, negative zero, infinities and NaN included, and no operation checks them.

        >>> a, b = Vec3d(1, 2.5, -0.0), Vec3d(3, 4, 0)
        >>> a + b, a - b, 2 * b, b / 2, -a
        (Vec3d(4, 6.5, 0), Vec3d(-2, -1.5, -0), Vec3d(6, 8, 0), Vec3d(1.5, 2, 0), Vec3d(-1, -2.5, 0))
        >>> x, y, z = b
        >>> b.dot(a), b.magnitude(), b.normalize()
        (13.0, 5.0, Vec3d(0.6, 0.8, 0))

    The printed form writes each component as the shortest decimal that reads back as the same
    double, never with an exponent and without a trailing ".0"; `str()` is the same text:

        >>> Vec3d(1e21, 1.5e-7, 1 / 3), Vec3d(float("nan"), float("inf"), -0.0)
        (Vec3d(1000000000000000000000, 0.00000015, 0.3333333333333333), Vec3d(NaN, inf, -0))

    Every call makes new objects and leaves its operands unchanged; only assigning x, y or z
    changes a vector. Equality holds within 2**-52 per component; there is no ordering.

    Raises:
        TypeError: an argument is not convertible to a float ("argument 'x': ..." and so on).
    """

    def __new__(cls, x: float, y: float, z: float) -> Vec3d:
        """The vector (x, y, z), each component stored unchanged.

        Raises:
            TypeError: an argument is not convertible to a float, or missing
                ("Vec3d.__new__() missing 1 required positional argument: 'z'").
        """

    @property
    def x(self) -> float:
        """The first component.

        Assigning converts the new value to a float (before taking the vector) and stores it.

        Raises:
            TypeError: on assignment, a value not convertible to a float ("argument 'value': ...");
                the vector is unchanged.
            RuntimeError: on assignment, "Already borrowed" while another thread reads this
                vector; on reading, "Already mutably borrowed" while another thread assigns to it.
            AttributeError: on deletion, "property has no deleter".
        """

    @x.setter
    def x(self, value: float) -> None: ...
    @property
    def y(self) -> float:
        """The second component; assignable, with the errors of `x`."""

    @y.setter
    def y(self, value: float) -> None: ...
    @property
    def z(self) -> float:
        """The third component; assignable, with the errors of `x`."""

    @z.setter
    def z(self, value: float) -> None: ...
    @staticmethod
    def zero() -> Vec3d:
        """A new vector (0, 0, 0), all positive zeros; a new object on every call."""

    @staticmethod
    def i() -> Vec3d:
        """A new unit vector along x, (1, 0, 0)."""

    @staticmethod
    def j() -> Vec3d:
        """A new unit vector along y, (0, 1, 0)."""

    @staticmethod
    def k() -> Vec3d:
        """A new unit vector along z, (0, 0, 1)."""

    @staticmethod
    def new_from_to(from_: Vec3d, to: Vec3d, /) -> Vec3d:
        """The vector from the point `from` to the point `to`: to - from, component by component.

        Pass both by position. The first parameter is named `from`, a Python keyword, so it can
        be given by keyword only through a mapping: `Vec3d.new_from_to(**{"from": a, "to": b})`.

            >>> Vec3d.new_from_to(Vec3d(1, 2, 3), Vec3d(4, 6, 8))
            Vec3d(3, 4, 5)

        Raises:
            TypeError: an argument is not a Vec3d ("argument 'from': ..." or "argument 'to': ...").
        """

    def dot(self, other: Vec3d) -> float:
        """The dot product (x·ox + y·oy) + z·oz.

            >>> Vec3d(1, 2, 3).dot(Vec3d(4, 5, 6))
            32.0

        Raises:
            TypeError: `other` is not a Vec3d ("argument 'other': 'int' object is not an
                instance of 'Vec3d'").
            RuntimeError: "Already mutably borrowed" while another thread assigns to this vector
                or to `other`.
        """

    def cross(self, other: Vec3d) -> Vec3d:
        """The cross product self × other, as a new vector.

            >>> Vec3d.i().cross(Vec3d.j()), Vec3d.j().cross(Vec3d.i())
            (Vec3d(0, 0, 1), Vec3d(0, 0, -1))

        Raises:
            TypeError: `other` is not a Vec3d ("argument 'other': ...").
            RuntimeError: "Already mutably borrowed" while another thread assigns to an operand.
        """

    def magnitude(self) -> float:
        """The length √((x·x + y·y) + z·z)."""

    def normalize(self) -> Vec3d:
        """A new vector of each component divided by the length; the zero vector gives NaN.

            >>> Vec3d(3, 4, 0).normalize(), Vec3d(0, 0, 0).normalize()
            (Vec3d(0.6, 0.8, 0), Vec3d(NaN, NaN, NaN))
        """

    def is_unit(self) -> bool:
        """Whether the computed length is within 2**-52 of one, strictly.

        Only a computed length of exactly 1.0 or of the double just below it passes.

            >>> Vec3d(0.1, 0.2, 0.3).normalize().is_unit(), Vec3d(1 + 2**-52, 0, 0).is_unit()
            (True, False)
        """

    def distance_to(self, other: Vec3d) -> float:
        """The distance between the points self and `other`, the length of their difference.

        Raises:
            TypeError: `other` is not a Vec3d ("argument 'other': ...").
            RuntimeError: "Already mutably borrowed" while another thread assigns to an operand.
        """

    def distance_squared(self, other: Vec3d) -> float:
        """The squared distance between the points self and `other` (no square root taken).

        Raises:
            TypeError: `other` is not a Vec3d ("argument 'other': ...").
            RuntimeError: "Already mutably borrowed" while another thread assigns to an operand.
        """

    def distance_to_line(self, a: Vec3d, b: Vec3d) -> float:
        """The distance from this point to the whole line through `a` and `b` (not the segment).

        `a` equal to `b` gives NaN.

            >>> Vec3d(1, 2, 3).distance_to_line(Vec3d(0, 0, 0), Vec3d(1, 0, 0))
            3.605551275463989

        Raises:
            TypeError: `a` or `b` is not a Vec3d, naming the argument.
            RuntimeError: "Already mutably borrowed" while another thread assigns to an operand.
        """

    def project_onto_line(self, line_r: Vec3d, line_q: Vec3d) -> Vec3d:
        """The point of the whole line through `line_r` and `line_q` nearest to this point.

        Two equal points give NaN components.

            >>> Vec3d(1, 2, 3).project_onto_line(Vec3d(0, 0, 0), Vec3d(2, 0, 0))
            Vec3d(1, 0, 0)

        Raises:
            TypeError: `line_r` or `line_q` is not a Vec3d, naming the argument.
            RuntimeError: "Already mutably borrowed" while another thread assigns to an operand.
        """

    def project_onto_plane(self, normal: Vec3d) -> Vec3d:
        """This vector projected onto the plane through the origin with normal `normal`.

        The normal is used as given: the result is the orthogonal projection only for a normal
        of unit length.

            >>> Vec3d(1, 2, 3).project_onto_plane(Vec3d(0, 0, 1))
            Vec3d(1, 2, 0)

        Raises:
            TypeError: `normal` is not a Vec3d ("argument 'normal': ...").
            RuntimeError: "Already mutably borrowed" while another thread assigns to an operand.
        """

    def scalar_triple_product(self, b: Vec3d, c: Vec3d) -> float:
        """self · (b × c), with the bits of `self.dot(b.cross(c))`.

        Raises:
            TypeError: `b` or `c` is not a Vec3d, naming the argument.
            RuntimeError: "Already mutably borrowed" while another thread assigns to an operand.
        """

    def to_array(self) -> list[float]:
        """A new list [x, y, z]."""

    def angle_to(self, other: Vec3d) -> AngleRadians:
        """The angle between the two vectors, acos(dot ÷ (|self|·|other|)), as an AngleRadians.

        The quotient is not clamped: rounding can push it past 1 and give NaN, and a zero
        vector gives NaN too.

            >>> Vec3d(1, 0, 0).angle_to(Vec3d(0, 0, 2)), Vec3d(1, 1, 1).angle_to(Vec3d(1, 1, 1))
            (1.5707963267948966 radians, NaN radians)

        Raises:
            TypeError: `other` is not a Vec3d ("argument 'other': ...").
            RuntimeError: "Already mutably borrowed" while another thread assigns to an operand.
        """

    def to_quat(self) -> Quat:
        """The pure quaternion (0, x, y, z).

            >>> Vec3d(1, 2, 3).to_quat()
            Quat(0, 1, 2, 3)
        """

    def __add__(self, other: Vec3d) -> Vec3d:
        """The component-wise sum; anything but a Vec3d raises TypeError."""

    def __sub__(self, other: Vec3d) -> Vec3d:
        """The component-wise difference; anything but a Vec3d raises TypeError."""

    def __mul__(self, other: float) -> Vec3d:
        """The vector scaled by a number (anything convertible to a float)."""

    def __rmul__(self, other: float) -> Vec3d:
        """The vector scaled by a number: `2 * v` has the bits of `v * 2`."""

    def __truediv__(self, other: float) -> Vec3d:
        """Each component divided by a number (not multiplied by its reciprocal), unguarded.

            >>> Vec3d(1, 2, 3) / 0, Vec3d(0, -1, 2) / 0
            (Vec3d(inf, inf, inf), Vec3d(NaN, -inf, inf))
        """

    def __neg__(self) -> Vec3d:
        """The vector with every sign bit flipped: -(0, 0, 0) is (-0, -0, -0)."""

    def __eq__(self, other: object) -> bool:
        """Equality within 2**-52 per component, absolute and strict.

        It is not transitive, and a vector with a NaN or infinite component equals nothing,
        itself included. An object that is not a Vec3d (a tuple included) is never equal. If
        another thread is assigning to `other` at that moment, PanicException ("Already mutably
        borrowed: PyBorrowError") is raised.

            >>> Vec3d(0, 0, 0) == Vec3d(1e-17, 0, 0), Vec3d(0, 0, 0) == Vec3d(2**-52, 0, 0)
            (True, False)
        """

    def __ne__(self, other: object) -> bool:
        """The exact negation of `==`."""

    def __hash__(self) -> int:
        """A hash of the exact bits, the same in every process and run.

        It is SipHash-1-3 over the three components, with -0 counted as 0 and every NaN alike.
        Vectors equal within the tolerance can hash differently: use as dictionary keys only
        vectors that are exactly the same.

            >>> hash(Vec3d(1, 2, 3)), hash(Vec3d(-0.0, 0, 0)) == hash(Vec3d(0, 0, 0))
            (3511550596308926913, True)
        """

    def __getitem__(self, index: int) -> float:
        """Component 0, 1 or 2 (x, y, z); there is no negative index.

        Raises:
            IndexError: `index` is above 2 ("Index out of bounds").
            OverflowError: `index` is negative.
            TypeError: `index` is not an integer ("argument 'index': ...").
        """
    # At run time iteration goes through __getitem__ (0, 1, 2, then IndexError); declared here so
    # that type checkers accept unpacking and iteration. stubs/stubtest-allowlist.txt says why.
    def __iter__(self) -> collections.abc.Iterator[float]:
        """Iterates x, y, z, so a vector unpacks as `x, y, z = v` and converts with `list(v)`."""
