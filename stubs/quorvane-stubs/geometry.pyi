"""Planes and circles in space, and where they meet lines, points and each other.

The submodule is an attribute of quorvane, not a module of its own to import:

    >>> from quorvane import Vec3d, geometry
    >>> geometry.plane_line(geometry.Plane.xy(), Vec3d(1, 2, 3), Vec3d(1, 2, 4))
    Vec3d(1, 2, 0)

`import quorvane.geometry` and `from quorvane.geometry import Plane` raise ModuleNotFoundError.
Every property read gives a new object: changing the Vec3d that `normal` returned does not
change the plane; assign the property instead.
"""

from typing import ClassVar, final

from . import Vec3d

__all__ = ["Circle", "circle_circle", "circle_point", "circle_point_unchecked", "plane_line", "Plane"]

@final
class Circle:
    """A circle in space: a centre, a radius and the normal of the plane it lies in.

    Circle(center, radius, normal): `center` and `normal` are Vec3d, `radius` anything Python
    converts to a float. The constructor stores the absolute radius and the normal divided by
    its length; values assigned later are stored as they are.

        >>> ring = Circle(Vec3d(0, 0, 0), -2.0, Vec3d(0, 0, 5))
        >>> ring.center, ring.radius, ring.normal, ring.area
        (Vec3d(0, 0, 0), 2.0, Vec3d(0, 0, 1), 12.566370614359172)

    Two circles are equal when their centres are equal within 2**-52 per component, their radii
    exactly equal, and their normals equal or opposite within 2**-52; a circle with a NaN normal
    equals nothing. Circles are unhashable and not ordered; they have no printed form of their
    own.

    Raises:
        TypeError: `center` or `normal` is not a Vec3d, or `radius` not convertible to a float,
            naming the argument.
    """

    def __new__(cls, center: Vec3d, radius: float, normal: Vec3d) -> Circle:
        """A circle of |radius| around `center`, in the plane with normal `normal` (normalised).

        A zero normal gives NaN components, not an error.

        Raises:
            TypeError: `center` or `normal` is not a Vec3d, or `radius` not convertible to a
                float, naming the argument.
        """

    @staticmethod
    def none() -> Circle:
        """The empty circle: centre (0, 0, 0), radius 0 and a NaN normal.

        It is degenerate and equals no circle, itself included.

            >>> Circle.none().normal, Circle.none().is_degenerate()
            (Vec3d(NaN, NaN, NaN), True)
        """

    @property
    def center(self) -> Vec3d:
        """The centre, as a new Vec3d; assigning a Vec3d stores a copy of it.

        Raises:
            TypeError: on assignment, a value that is not a Vec3d ("argument 'value': ...").
            RuntimeError: on assignment, "Already borrowed" while another thread reads this
                circle; on reading, "Already mutably borrowed" while another thread assigns to it.
            AttributeError: on deletion, "property has no deleter".
        """

    @center.setter
    def center(self, value: Vec3d) -> None: ...
    @property
    def radius(self) -> float:
        """The radius; assigning stores the value as it is, a negative one included.

        Assigning needs a value convertible to a float; otherwise it raises as for `center`.
        """

    @radius.setter
    def radius(self, value: float) -> None: ...
    @property
    def normal(self) -> Vec3d:
        """The normal of the circle's plane, as a new Vec3d; an assigned one is stored unnormalised.

        Assigning and deleting raise as for `center`.
        """

    @normal.setter
    def normal(self, value: Vec3d) -> None: ...
    @property
    def area(self) -> float:
        """The area (radius × radius) × pi, read only; it follows an assigned radius."""

    def get_plane(self) -> Plane:
        """The plane the circle lies in: `Plane.from_point(normal, center)`, as a new Plane."""

    def in_same_plane(self, other: Circle) -> bool:
        """Whether the two circles lie in one plane.

        Their normals must be equal or opposite within 2**-52 per component, and the offsets of
        their planes (normal · centre, of opposite sign for opposite normals) must then agree
        within 2**-52.

            >>> high = Circle(Vec3d(0, 0, 1), 1, Vec3d(0, 0, 1))
            >>> high.in_same_plane(Circle(Vec3d(5, 5, 1), 2, Vec3d(0, 0, 1)))
            True
            >>> high.in_same_plane(Circle(Vec3d(0, 0, 2), 1, Vec3d(0, 0, 1)))
            False

        Raises:
            TypeError: `other` is not a Circle ("argument 'other': ...").
            RuntimeError: "Already mutably borrowed" while another thread assigns to a circle.
        """

    def is_degenerate(self) -> bool:
        """Whether the radius is zero (0 or -0; a NaN radius is not degenerate)."""

    def __eq__(self, other: object) -> bool:
        """Equal centres (within 2**-52), exactly equal radii, and equal or opposite normals.

        An object that is not a Circle is never equal.

            >>> Circle(Vec3d(0, 0, 0), 1, Vec3d(0, 0, 1)) == Circle(Vec3d(0, 0, 0), 1, Vec3d(0, 0, -1))
            True
        """

    def __ne__(self, other: object) -> bool:
        """The negation of `==`."""
    __hash__: ClassVar[None]  # type: ignore[assignment]

def circle_circle(circle1: Circle, circle2: Circle) -> tuple[Vec3d, Vec3d]:
    """The two points where two circles of one plane cross.

    Touching circles give the same point twice; swapping the arguments swaps the points. Nothing
    is clamped: circles that touch only within rounding can give NaN points rather than an error.

        >>> unit = Circle(Vec3d(0, 0, 0), 1, Vec3d(0, 0, 1))
        >>> circle_circle(unit, Circle(Vec3d(1, 0, 0), 1, Vec3d(0, 0, 1)))
        (Vec3d(0.5, -0.8660254037844386, 0), Vec3d(0.5, 0.8660254037844386, 0))
        >>> circle_circle(unit, Circle(Vec3d(3, 0, 0), 1, Vec3d(0, 0, 1)))
        Traceback (most recent call last):
          ...
        ValueError: The given geometries are too far apart and do not intersect at all.

    Args:
        circle1: the first circle.
        circle2: the second circle; the same object as `circle1` is allowed.

    Returns:
        A tuple of two new Vec3d.

    Raises:
        ValueError: when there is no crossing, with one of these texts, tested in this order:
            "The given geometries are identical.";
            "The given geometries are out of plane from each other";
            "The given geometries are too far apart and do not intersect at all.";
            "One of the given geometries is contained entirely within the other. The surfaces
            do not intersect."
        TypeError: an argument is not a Circle, naming it.
        RuntimeError: "Already mutably borrowed" while another thread assigns to a circle.
    """

def circle_point(circle: Circle, point: Vec3d, inner: bool) -> bool:
    """Whether `point` lies on `circle` (or, with `inner` true, inside it), in the circle's plane.

    On the circle means within 2**-52 of the radius from the centre; a point not within 2**-52 of
    the circle's plane gives False. It never raises for a geometric reason.

        >>> big = Circle(Vec3d(0, 0, 0), 2, Vec3d(0, 0, 1))
        >>> circle_point(big, Vec3d(2, 0, 0), False), circle_point(big, Vec3d(1, 0, 0), False)
        (True, False)
        >>> circle_point(big, Vec3d(1, 0, 0), True), circle_point(big, Vec3d(1, 0, 1), True)
        (True, False)

    Args:
        circle: the circle.
        point: the point, a Vec3d.
        inner: True to accept points inside the circle too; a real bool (or numpy's bool), not
            an int.

    Raises:
        TypeError: an argument of the wrong type, naming it ("argument 'inner': 'int' object is
            not an instance of 'bool'").
        RuntimeError: "Already mutably borrowed" while another thread assigns to an argument.
    """

def circle_point_unchecked(circle: Circle, point: Vec3d, inner: bool) -> bool:
    """`circle_point` without the plane test: judged by the distance from the centre alone.

        >>> circle_point_unchecked(Circle(Vec3d(0, 0, 0), 2, Vec3d(0, 0, 1)), Vec3d(1, 0, 1), True)
        True

    Args:
        circle: the circle.
        point: the point, a Vec3d.
        inner: True to accept points inside the circle too; a real bool, not an int.

    Raises:
        TypeError: an argument of the wrong type, naming it.
        RuntimeError: "Already mutably borrowed" while another thread assigns to an argument.
    """

def plane_line(plane: Plane, a: Vec3d, b: Vec3d) -> Vec3d:
    """The point where the whole line through `a` and `b` meets `plane` (not only the segment).

    The plane's stored normal is used as it is. A line parallel to the plane divides by zero and
    gives infinite or NaN components, not an error.

        >>> plane_line(Plane.xy(), Vec3d(0, 0, 1), Vec3d(0, 0, -1))
        Vec3d(0, 0, 0)
        >>> plane_line(Plane.xy(), Vec3d(0, 0, 1), Vec3d(1, 0, 1))
        Vec3d(-inf, NaN, NaN)

    Args:
        plane: the plane.
        a: a point of the line, a Vec3d.
        b: another point of the line, a Vec3d.

    Returns:
        A new Vec3d.

    Raises:
        TypeError: an argument of the wrong type, naming it.
        RuntimeError: "Already mutably borrowed" while another thread assigns to an argument.
    """

@final
class Plane:
    """An oriented plane: the points p with normal · p + distance = 0.

    Plane(normal, distance): `normal` is a Vec3d, `distance` the plane's offset from the origin
    along the normal. The constructor divides the normal by its length and stores minus the
    offset, so the plane through (0, 0, 5) with normal (0, 0, 1) stores distance -5. Values
    assigned later are stored as they are.

        >>> floor = Plane(Vec3d(0, 0, 2), 5.0)
        >>> floor.normal, floor.distance, floor.contains_point(Vec3d(7, -3, 5))
        (Vec3d(0, 0, 1), -5.0, True)

    Planes have no equality of their own: `==` compares identity, and they hash by identity.
    They have no printed form of their own.

    Raises:
        TypeError: `normal` is not a Vec3d or `distance` not convertible to a float, naming the
            argument.
    """

    def __new__(cls, normal: Vec3d, distance: float) -> Plane:
        """The plane with unit normal `normal` ÷ |normal| at offset `distance` along it.

        Raises:
            TypeError: `normal` is not a Vec3d or `distance` not convertible to a float.
        """

    @staticmethod
    def xy() -> Plane:
        """A new plane z = 0: normal (0, 0, 1), stored distance -0."""

    @staticmethod
    def xz() -> Plane:
        """A new plane y = 0: normal (0, 1, 0), stored distance -0."""

    @staticmethod
    def yz() -> Plane:
        """A new plane x = 0: normal (1, 0, 0), stored distance -0."""

    @staticmethod
    def from_point(normal: Vec3d, point: Vec3d) -> Plane:
        """The plane through `point` with normal `normal` (normalised).

            >>> Plane.from_point(Vec3d(0, 0, 1), Vec3d(1, 2, 3)).distance
            -3.0

        Raises:
            TypeError: an argument is not a Vec3d, naming it.
        """

    @staticmethod
    def from_points(point1: Vec3d, point2: Vec3d, point3: Vec3d) -> Plane:
        """The plane through three points.

        Its normal is (point2 - point1) × (point3 - point1), normalised: the order of the points
        sets the side (counterclockwise seen from the normal's tip). Three points on one line
        give NaN in the normal and the distance, not an error.

            >>> Plane.from_points(Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(0, 1, 0)).normal
            Vec3d(0, 0, 1)

        Raises:
            TypeError: an argument is not a Vec3d, naming it.
        """

    @property
    def normal(self) -> Vec3d:
        """The normal, as a new Vec3d; an assigned one is stored as it is, not normalised.

        A normal that is not of unit length scales `distance_to_point`.

        Raises:
            TypeError: on assignment, a value that is not a Vec3d ("argument 'value': ...").
            RuntimeError: on assignment, "Already borrowed" while another thread reads this
                plane; on reading, "Already mutably borrowed" while another thread assigns to it.
            AttributeError: on deletion, "property has no deleter".
        """

    @normal.setter
    def normal(self, value: Vec3d) -> None: ...
    @property
    def distance(self) -> float:
        """The stored distance d of normal · p + d = 0: minus the offset along the normal.

        An assigned value is stored as it is (not negated).

        Raises:
            TypeError: on assignment, a value not convertible to a float ("argument 'value': ...").
            RuntimeError: on assignment, "Already borrowed" while another thread reads this
                plane; on reading, "Already mutably borrowed" while another thread assigns to it.
            AttributeError: on deletion, "property has no deleter".
        """

    @distance.setter
    def distance(self, value: float) -> None: ...
    def contains_point(self, point: Vec3d) -> bool:
        """Whether normal · point + distance is within 2**-52 of zero.

        Raises:
            TypeError: `point` is not a Vec3d ("argument 'point': ...").
            RuntimeError: "Already mutably borrowed" while another thread assigns to an operand.
        """

    def distance_to_point(self, point: Vec3d) -> float:
        """|normal · point + distance|: the distance to the point for a unit normal, never negative.

        It does not tell the side of the plane.

            >>> Plane.xy().distance_to_point(Vec3d(1, 2, -3))
            3.0

        Raises:
            TypeError: `point` is not a Vec3d ("argument 'point': ...").
            RuntimeError: "Already mutably borrowed" while another thread assigns to an operand.
        """
