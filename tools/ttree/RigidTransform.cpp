#include "tools/ttree/RigidTransform.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

double determinant(const CbMatrix4Rd& m) {
    return m(0, 0) * (m(1, 1) * m(2, 2) - m(1, 2) * m(2, 1)) -
           m(0, 1) * (m(1, 0) * m(2, 2) - m(1, 2) * m(2, 0)) +
           m(0, 2) * (m(1, 0) * m(2, 1) - m(1, 1) * m(2, 0));
}

// R × Rᵀ of the upper 3x3 block.
std::array<double, 9> gram(const CbMatrix4Rd& m) {
    std::array<double, 9> g{};
    for (size_t r = 0; r < 3; ++r) {
        for (size_t c = 0; c < 3; ++c) {
            g[3 * r + c] = m(r, 0) * m(c, 0) + m(r, 1) * m(c, 1) + m(r, 2) * m(c, 2);
        }
    }
    return g;
}

// The largest difference between an entry of `g` and the same entry of `scale` × I.
double deviation(const std::array<double, 9>& g, double scale) {
    double largest = 0.0;
    for (size_t i = 0; i < 9; ++i) {
        largest = std::max(largest, std::abs(g[i] - (i % 4 == 0 ? scale : 0.0)));
    }
    return largest;
}

}  // namespace

std::string RigidTransform::Fault(const CbMatrix4Rd& trafo, bool columnVectors) {
    std::string fault = finiteFault(trafo);
    if (fault.empty()) {
        fault = projectiveFault(trafo, columnVectors);
    }
    if (fault.empty()) {
        fault = rotationFault(trafo);
    }
    return fault;
}

CbMatrix4Rd RigidTransform::WithExactProjectivePart(const CbMatrix4Rd& trafo) {
    CbMatrix4Rd exact = trafo;
    exact(0, 3) = exact(1, 3) = exact(2, 3) = 0.0;
    exact(3, 3) = 1.0;
    return exact;
}

std::string RigidTransform::finiteFault(const CbMatrix4Rd& trafo) {
    for (size_t i = 0; i < 16; ++i) {
        if (!std::isfinite(trafo[i])) {
            return "it holds a value that is not finite (" + number(trafo[i]) + ")";
        }
    }
    return {};
}

std::string RigidTransform::projectiveFault(const CbMatrix4Rd& trafo, bool columnVectors) {
    bool exact = true;
    for (size_t row = 0; row < 4; ++row) {
        exact = exact && std::abs(trafo(row, 3) - (row == 3 ? 1.0 : 0.0)) <= ms_tolerance;
    }
    if (exact) {
        return {};
    }
    return std::string("its fourth ") + (columnVectors ? "row" : "column") + " is (" +
           number(trafo(0, 3)) + ", " + number(trafo(1, 3)) + ", " + number(trafo(2, 3)) + ", " +
           number(trafo(3, 3)) + "), not (0, 0, 0, 1)";
}

std::string RigidTransform::rotationFault(const CbMatrix4Rd& trafo) {
    const std::array<double, 9> g = gram(trafo);
    const double det = determinant(trafo);
    const std::string reflection =
        det < 0.0 ? ", and its determinant is negative (a reflection)" : "";
    if (deviation(g, 1.0) <= ms_tolerance) {
        return det > 0.0 ? std::string() : "it is a reflection (determinant -1), not a rotation";
    }
    const double squaredScale = (g[0] + g[4] + g[8]) / 3.0;
    if (!std::isfinite(squaredScale)) {
        return "its rotation part holds values far too large for a rotation";
    }
    if (squaredScale == 0.0 || std::abs(det) <= 1e-9 * std::pow(squaredScale, 1.5)) {
        return "its rotation part is singular (determinant " + number(det) + ")";
    }
    if (deviation(g, squaredScale) <= ms_tolerance * squaredScale) {
        return "it scales by " + number(std::sqrt(squaredScale)) + reflection +
               "; the rotation part R must be orthonormal (R * R^T = I within " +
               number(ms_tolerance) + ")";
    }
    return "its rotation part is not orthonormal (a shear or unequal scales): R * R^T differs "
           "from the identity by up to " +
           number(deviation(g, 1.0)) + ", more than the " + number(ms_tolerance) + " allowed" +
           reflection;
}
