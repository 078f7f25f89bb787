"""quorvane as a user's type checker sees it.

scripts/test.sh checks this file with `mypy --strict` and pyright against the installed stubs,
then runs it, so every line is real use of the module and every assert_type holds at run time
too. A misuse carries a `type: ignore[code]`: both checkers report an ignore that is not needed
(mypy in strict mode, pyright by the setting in pyproject.toml), so these lines fail the check if
the stubs stop rejecting the misuse.
"""

import array
from collections.abc import Iterator
from typing import assert_type

import quorvane
from quorvane import AngleRadians, Quat, Vec3d, geometry

a = Vec3d(1, 2.5, -0.0)
b = Vec3d.new_from_to(Vec3d.zero(), Vec3d(4, 5, 6))

# construction and components
assert_type(Vec3d.i(), Vec3d)
assert_type(a.x, float)
assert_type(a[2], float)
a.y = 3  # an int stands for a float
assert a.y == 3.0

# arithmetic
assert_type(a + b, Vec3d)
assert_type(a - b, Vec3d)
assert_type(-a, Vec3d)
assert_type(a * 2, Vec3d)
assert_type(0.5 * a, Vec3d)
assert_type(a / 4, Vec3d)

# products, measures, projections
assert_type(a.dot(b), float)
assert_type(a.cross(b), Vec3d)
assert_type(a.magnitude(), float)
assert_type(a.normalize(), Vec3d)
assert_type(a.normalize().is_unit(), bool)
assert_type(a.distance_to(b), float)
assert_type(a.distance_squared(b), float)
assert_type(a.distance_to_line(Vec3d.zero(), Vec3d.i()), float)
assert_type(a.project_onto_line(Vec3d.zero(), Vec3d.i()), Vec3d)
assert_type(a.project_onto_plane(Vec3d.k()), Vec3d)
assert_type(a.scalar_triple_product(Vec3d.i(), Vec3d.j()), float)
assert_type(a.to_array(), list[float])

# unpacking and iteration, through indexing at run time
x, y, z = a
assert_type(x, float)
assert (x, y, z) == (1.0, 3.0, -0.0)
assert_type(iter(a), Iterator[float])
assert list(b) == [4.0, 5.0, 6.0] and 5.0 in b

# comparison, hashing, text
assert_type(a == b, bool)
assert_type(hash(a), int)
assert_type(repr(a), str)
assert repr(Vec3d(1, 2.5, -0.0)) == "Vec3d(1, 2.5, -0)"

# misuse the stubs must reject
try:
    a + 1  # type: ignore[operator]
except TypeError:
    pass
else:
    raise AssertionError("Vec3d + int was accepted")
try:
    a.dot(5)  # type: ignore[arg-type]
except TypeError:
    pass
else:
    raise AssertionError("Vec3d.dot(int) was accepted")

try:
    Vec3d.new_from_to(from_=a, to=b)  # type: ignore[call-arg]
except TypeError:
    pass
else:
    raise AssertionError("Vec3d.new_from_to accepted the keyword from_")

# only angles are ordered; the other classes' orderings raise, and the stubs have none
assert_type(sorted([AngleRadians(2), AngleRadians(1)]), list[AngleRadians])
assert_type(AngleRadians(1) < AngleRadians(2), bool)
try:
    sorted([a, b])  # type: ignore[type-var]
except TypeError:
    pass
else:
    raise AssertionError("Vec3d values were ordered")
try:
    Quat.identity() < Quat.identity()  # type: ignore[operator]
except TypeError:
    pass
else:
    raise AssertionError("Quat values were ordered")
try:
    geometry.Circle.none() >= geometry.Circle.none()  # type: ignore[operator]
except TypeError:
    pass
else:
    raise AssertionError("Circle values were ordered")

# VecList for array users: buffers and element-by-element combinations
points = quorvane.VecList([a, b])
assert_type(points.dot_array(b), memoryview)
assert_type(points.is_unit_array(), memoryview)
assert_type(points.cross_elementwise(points), quorvane.VecList)
assert_type(points.distance_to_elementwise(points), memoryview)
assert points.dot_elementwise(points).tolist() == [a.dot(a), b.dot(b)]
assert_type(quorvane.VecList.from_array(memoryview(bytes(24)).cast("f")), quorvane.VecList)
try:
    points.add_elementwise(a)  # type: ignore[arg-type]
except TypeError:
    pass
else:
    raise AssertionError("VecList.add_elementwise(Vec3d) was accepted")

# reductions, selection and per-point operations, with sequences and buffers as arguments
assert_type(points.sum(), quorvane.Vec3d)
assert_type(points.bounds(), tuple[quorvane.Vec3d, quorvane.Vec3d])
assert_type(points.take([1, 0]), quorvane.VecList)
assert_type(points.take(array.array("q", [1])), quorvane.VecList)
assert_type(points.take_triangles([(0, 1, 1)]), tuple[quorvane.VecList, quorvane.VecList, quorvane.VecList])
assert_type(points.select([True, False]), quorvane.VecList)
assert_type(points.scaled_elementwise([2.0, 0.5]), quorvane.VecList)
assert_type(points.signed_distance_to_plane_array(geometry.Plane.xy()), memoryview)

# the submodule is an attribute of the module
assert_type(geometry.__name__, str)
assert geometry is quorvane.geometry
assert geometry.__name__ == "quorvane.geometry"

# rotations, and how they leave and enter other libraries' conventions
q = quorvane.Quat.from_euler("xyz", quorvane.AngleRadians(0.1), quorvane.AngleRadians(0.2), quorvane.AngleRadians(0.3))
assert_type(q.then(q.inverse()).slerp(q, 0.5), quorvane.Quat)
assert_type(q.to_active(), tuple[float, float, float, float])
assert_type(quorvane.Quat.from_active(*q.to_active()), quorvane.Quat)
assert_type(q.to_euler("ZYX"), tuple[quorvane.AngleRadians, quorvane.AngleRadians, quorvane.AngleRadians])
assert_type(quorvane.Quat.from_rotation_matrix(q.to_rotation_matrix()), quorvane.Quat)
assert_type(quorvane.Quat.rotation_between(a, b), quorvane.Quat)
assert_type(quorvane.VecList([a, b]).rotated(q), quorvane.VecList)
try:
    quorvane.Quat.from_euler("xyz", 0.1, 0.2, 0.3)  # type: ignore[arg-type]
except TypeError:
    pass
else:
    raise AssertionError("Quat.from_euler with float angles was accepted")
