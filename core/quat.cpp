#include "core/quat.hpp"

#include <math.h>  // sincos, a GNU extension that <cmath> does not put into std

namespace quorvane::core {

Quat Quat::from_axis_angle(const Vec3d& axis, AngleRadians angle) {
    const double h = angle.angle * -0.5;
    double s;
    double c;
    ::sincos(h, &s, &c);
    return {c, s * axis.x, s * axis.y, s * axis.z};
}

AxisAngle to_axis_angle(const Quat& q) {
    if (within_epsilon(q.w + -1.0)) return {{1.0, 0.0, 0.0}, {0.0}};
    const double a = std::acos(q.w);
    const double angle = a + a;
    const double s = std::sin(angle * 0.5);
    return {{q.i / s, q.j / s, q.k / s}, {angle}};
}

}  // namespace quorvane::core
