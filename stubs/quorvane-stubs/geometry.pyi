__all__ = ["Circle", "circle_circle", "circle_point", "circle_point_unchecked", "plane_line", "Plane"]
