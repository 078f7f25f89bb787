#pragma once
// Plane angles as two distinct value types, so that degrees never pass for radians.
//
// Radians is the working type (constants, trigonometry, arithmetic); degrees only converts,
// negates, compares and prints. Neither type normalises, wraps or checks its number: negative
// angles, whole turns, infinities, NaN and -0.0 are kept exactly as given.
#include <compare>
#include <numbers>
#include <optional>
#include <string>

#include "core/vec3d.hpp"

namespace quorvane::core {

struct AngleDegrees;

// The trigonometry is a set of members rather than free functions so that a free `sin` here
// never hides the <cmath> one from unqualified calls in this namespace. It is defined out of
// line so that every caller gets the C library's result, never the compiler's own evaluation
// of a constant argument (the two can differ in the last bit).
struct AngleRadians {
    double angle;

    // Each constant is pi itself or pi scaled once in double arithmetic. pi / 3.0 and pi / 6.0
    // therefore land one unit in the last place below the doubles nearest to pi/3 and pi/6.
    static constexpr AngleRadians zero() { return {0.0}; }
    static constexpr AngleRadians pi() { return {std::numbers::pi}; }  // 0x400921FB54442D18
    static constexpr AngleRadians two_pi() { return {std::numbers::pi * 2.0}; }
    static constexpr AngleRadians half_pi() { return {std::numbers::pi / 2.0}; }
    static constexpr AngleRadians third_pi() { return {std::numbers::pi / 3.0}; }
    static constexpr AngleRadians quarter_pi() { return {std::numbers::pi / 4.0}; }
    static constexpr AngleRadians sixth_pi() { return {std::numbers::pi / 6.0}; }

    double sin() const;
    double cos() const;
    double tan() const;
    // Plain reciprocals 1.0 / cos, 1.0 / sin and 1.0 / tan, with no guard: sec(pi/2) is large,
    // csc(0.0) is +inf. cot is not cos / sin: the two differ in the last bit (cot(pi/4) is 1 + 2^-52).
    double sec() const;
    double csc() const;
    double cot() const;

    // (angle * 180.0) / pi: the product first, then one division.
    constexpr AngleDegrees to_degrees() const;

    // Exact IEEE comparison of the stored double: 0.0 == -0.0, and a NaN is unordered with
    // everything, itself included.
    friend constexpr bool operator==(AngleRadians, AngleRadians) = default;
    friend constexpr std::partial_ordering operator<=>(AngleRadians, AngleRadians) = default;
};

struct AngleDegrees {
    double angle;

    // (angle * pi) / 180.0: the product first, then one division.
    constexpr AngleRadians to_radians() const { return {(angle * std::numbers::pi) / 180.0}; }

    friend constexpr bool operator==(AngleDegrees, AngleDegrees) = default;
    friend constexpr std::partial_ordering operator<=>(AngleDegrees, AngleDegrees) = default;
};

constexpr AngleDegrees AngleRadians::to_degrees() const { return {(angle * 180.0) / std::numbers::pi}; }

constexpr AngleRadians operator+(AngleRadians a, AngleRadians b) { return {a.angle + b.angle}; }
constexpr AngleRadians operator-(AngleRadians a, AngleRadians b) { return {a.angle - b.angle}; }
constexpr AngleRadians operator*(AngleRadians a, double k) { return {a.angle * k}; }
// No test of k: dividing by zero gives an infinite or NaN angle.
constexpr AngleRadians operator/(AngleRadians a, double k) { return {a.angle / k}; }
// A sign-bit flip, not 0 - a: zero becomes -0.0 and a NaN keeps its payload.
constexpr AngleRadians operator-(AngleRadians a) { return {-a.angle}; }
constexpr AngleDegrees operator-(AngleDegrees a) { return {-a.angle}; }

// The angle between two vectors: acos(dot / (|a| * |b|)), the lengths multiplied first. The
// quotient is not clamped and zero lengths are not tested, so a quotient that rounds past
// +-1 (e.g. (1, 1, 1) with itself) and a zero vector both give NaN.
AngleRadians angle_to(const Vec3d& a, const Vec3d& b);

// Text forms: "1.5 radians" and "90°" (degree sign right after the number). The number follows
// the library's float-to-text rule, or has exactly `precision` fraction digits when one is given.
void append_text(std::string& out, AngleRadians a, std::optional<int> precision = std::nullopt);
void append_text(std::string& out, AngleDegrees a, std::optional<int> precision = std::nullopt);

inline std::string to_text(AngleRadians a, std::optional<int> precision = std::nullopt) {
    std::string out;
    append_text(out, a, precision);
    return out;
}

inline std::string to_text(AngleDegrees a, std::optional<int> precision = std::nullopt) {
    std::string out;
    append_text(out, a, precision);
    return out;
}

}  // namespace quorvane::core
