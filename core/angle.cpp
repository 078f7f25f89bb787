#include "core/angle.hpp"

#include <cmath>

#include "core/float_text.hpp"

namespace quorvane::core {
namespace {

void append_number(std::string& out, double value, std::optional<int> precision) {
    if (precision)
        append_float_text_fixed(out, value, *precision);
    else
        append_float_text(out, value);
}

}  // namespace

double AngleRadians::sin() const { return std::sin(angle); }
double AngleRadians::cos() const { return std::cos(angle); }
double AngleRadians::tan() const { return std::tan(angle); }
double AngleRadians::sec() const { return 1.0 / std::cos(angle); }
double AngleRadians::csc() const { return 1.0 / std::sin(angle); }
double AngleRadians::cot() const { return 1.0 / std::tan(angle); }

AngleRadians angle_to(const Vec3d& a, const Vec3d& b) { return {std::acos(dot(a, b) / (magnitude(a) * magnitude(b)))}; }

void append_text(std::string& out, AngleRadians a, std::optional<int> precision) {
    append_number(out, a.angle, precision);
    out += " radians";
}

void append_text(std::string& out, AngleDegrees a, std::optional<int> precision) {
    append_number(out, a.angle, precision);
    out += "\xC2\xB0";  // U+00B0 DEGREE SIGN in UTF-8, written as bytes so no source charset interferes
}

}  // namespace quorvane::core
