"""Spatial indexes over point clouds: nearest-neighbour and radius searches.

The submodule is an attribute of quorvane and a module of its own, so both forms work:

    >>> import quorvane.spatial
    >>> from quorvane.spatial import KdTree

Every search is exact: the distances are the bits `Vec3d.distance_to` gives, and of points at
the same distance the one with the lowest index comes first. Results depend only on the points
and the query, never on how the tree is laid out, on the worker count or on timing.
"""

from typing import final

from . import Vec3d, VecList

__all__ = ["KdTree"]

@final
class KdTree:
    """A k-d tree over a fixed cloud of points, for nearest-point and radius searches.

    KdTree(points): `points` is a VecList, copied; the build runs on the worker pool. The tree
    never changes afterwards, so any number of threads may search it at once; each search takes
    its VecList argument for reading, as every method of the module does.

        >>> tree = KdTree(VecList([Vec3d(0, 0, 0), Vec3d(3, 0, 0), Vec3d(0, 4, 0)]))
        >>> tree, len(tree)
        (KdTree(3 points), 3)
        >>> tree.nearest(Vec3d(2, 0, 0))
        (1, 1.0)

    Beyond its copy of the points the tree takes about 7 bytes per point. It pickles (and
    copies) as the call that builds it again from its points, which answers every query with
    the same bits.

    Raises:
        TypeError: `points` is not a VecList ("argument 'points': ...").
        ValueError: a point has a NaN or infinite component, naming the first
            ("point 17 is not finite").
    """

    def __new__(cls, points: VecList) -> KdTree:
        """Builds the tree over a copy of `points`."""

    def __len__(self) -> int:
        """The number of points."""

    def points(self) -> VecList:
        """A new VecList of the points, in the order they were given.

            >>> list(KdTree(VecList([Vec3d(1, 2, 3), Vec3d(0, 0, 0)])).points())
            [Vec3d(1, 2, 3), Vec3d(0, 0, 0)]
        """

    def nearest(self, p: Vec3d) -> tuple[int, float]:
        """The index of the point nearest to `p`, and its distance.

        The distance is `points()[index].distance_to(p)` bit for bit; of points at the same
        distance the lowest index wins.

            >>> KdTree(VecList([Vec3d(1, 0, 0), Vec3d(-1, 0, 0)])).nearest(Vec3d(0, 5, 0))
            (0, 5.0990195135927845)

        Raises:
            TypeError: `p` is not a Vec3d ("argument 'p': ...").
            ValueError: "the tree is empty", or "p is not finite".
        """

    def nearest_array(self, queries: VecList) -> tuple[memoryview, memoryview]:
        """`nearest` for every point of `queries`, searched in parallel on the worker pool.

        Returns:
            (indices, distances): two new one-dimensional memoryviews of shape (len(queries),),
            of format "q" (64-bit integers) and "d", owning their memory.

            >>> tree = KdTree(VecList([Vec3d(0, 0, 0), Vec3d(10, 0, 0)]))
            >>> indices, distances = tree.nearest_array(VecList([Vec3d(9, 0, 0), Vec3d(1, 0, 0)]))
            >>> indices.tolist(), distances.tolist()
            ([1, 0], [1.0, 1.0])

        Raises:
            TypeError: `queries` is not a VecList ("argument 'queries': ...").
            ValueError: "the tree is empty", or a query is not finite ("query 3 is not finite").
        """

    def k_nearest(self, p: Vec3d, k: int) -> tuple[memoryview, memoryview]:
        """The `k` points nearest to `p`, by distance and then by index.

        Returns:
            (indices, distances): memoryviews of shape (k,), formats "q" and "d".

            >>> tree = KdTree(VecList([Vec3d(2, 0, 0), Vec3d(1, 0, 0), Vec3d(1, 0, 0)]))
            >>> [view.tolist() for view in tree.k_nearest(Vec3d(0, 0, 0), 2)]
            [[1, 2], [1.0, 1.0]]

        Raises:
            TypeError: `p` is not a Vec3d, or `k` not an integer.
            OverflowError: `k` is negative.
            ValueError: "the tree is empty"; `k` is not from 1 to len(tree) ("k must be from 1
                to 3, got 4"); "p is not finite".
        """

    def k_nearest_array(self, queries: VecList, k: int) -> tuple[memoryview, memoryview]:
        """`k_nearest` for every point of `queries`, in parallel on the worker pool.

        Returns:
            (indices, distances): memoryviews of shape (len(queries), k), formats "q" and "d";
            row i holds query i's neighbours.

        Raises:
            The errors of `k_nearest` and `nearest_array`.
        """

    def within(self, p: Vec3d, radius: float) -> memoryview:
        """The indices of every point whose `distance_to(p)` is at most `radius`, ascending.

            >>> tree = KdTree(VecList([Vec3d(0, 0, 0), Vec3d(3, 0, 0), Vec3d(0, 4, 0)]))
            >>> tree.within(Vec3d(0, 0, 0), 3.0).tolist()
            [0, 1]

        Returns:
            A memoryview of format "q", one-dimensional; empty for an empty tree.

        Raises:
            TypeError: `p` is not a Vec3d, or `radius` not convertible to a float.
            ValueError: "p is not finite"; "radius must not be negative or NaN".
        """

    def count_within_array(self, queries: VecList, radius: float) -> memoryview:
        """How many points lie within `radius` of each point of `queries`, as `within` counts.

        Returns:
            A memoryview of format "q" and shape (len(queries),).

        Raises:
            TypeError: `queries` is not a VecList, or `radius` not convertible to a float.
            ValueError: a query is not finite ("query 3 is not finite"); "radius must not be
                negative or NaN".
        """
