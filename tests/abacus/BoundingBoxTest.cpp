#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "platform/prism/CyBoundingBox3D.h"

namespace {

void expectBox(const CyBoundingBox3D& box, const CbVector3f& min, const CbVector3f& max) {
    ASSERT_FALSE(box.IsEmpty());
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(box.GetMin()[i], min[i], 1e-5f) << "min " << i;
        EXPECT_NEAR(box.GetMax()[i], max[i], 1e-5f) << "max " << i;
    }
}

// 45 degrees about z for row vectors, then a shift by (10, 0, -1).
CbMatrix4Rf turnAndShift() {
    const float c = std::sqrt(0.5f);
    return CbMatrix4Rf({c, c, 0, 0, -c, c, 0, 0, 0, 0, 1, 0, 10, 0, -1, 1});
}

TEST(CyBoundingBox3D, EmptyExtendAndTransform) {
    CyBoundingBox3D empty;
    EXPECT_TRUE(empty.IsEmpty());
    empty.Transform(turnAndShift());
    EXPECT_TRUE(empty.IsEmpty());
    empty.Extend(CyBoundingBox3D());
    EXPECT_TRUE(empty.IsEmpty());

    CyBoundingBox3D box;
    box.Extend(CbVector3f(1, 2, 3));
    expectBox(box, {1, 2, 3}, {1, 2, 3});
    const float inf = std::numeric_limits<float>::infinity();
    box.Extend(CbVector3f(std::nanf(""), 100, 100));  // not finite: ignored
    box.Extend(CbVector3f(0, -inf, 0));
    expectBox(box, {1, 2, 3}, {1, 2, 3});
    box.Extend(CyBoundingBox3D({-1, 5, 0}, {0, 6, 1}));
    expectBox(box, {-1, 2, 0}, {1, 6, 3});
    box.Extend(CyBoundingBox3D());
    expectBox(box, {-1, 2, 0}, {1, 6, 3});

    // Corners (0,0), (2,0), (0,1), (2,1) turn to (0,0), (1.41,1.41), (-0.71,0.71), (0.71,2.12).
    CyBoundingBox3D flat({0, 0, 0}, {2, 1, 0});
    flat.Transform(turnAndShift());
    const float h = std::sqrt(0.5f);
    expectBox(flat, {10 - h, 0, -1}, {10 + 2 * h, 3 * h, -1});

    // A box empty along one axis only encloses nothing, so extending it gives the new
    // contents alone.
    CyBoundingBox3D inverted({1, 0, 0}, {0, 1, 1});
    EXPECT_TRUE(inverted.IsEmpty());
    CyBoundingBox3D afterPoint = inverted;
    afterPoint.Extend(CbVector3f(5, 5, 5));
    expectBox(afterPoint, {5, 5, 5}, {5, 5, 5});
    CyBoundingBox3D afterBox = inverted;
    afterBox.Extend(CyBoundingBox3D({-3, -3, -3}, {-2, -2, -2}));
    expectBox(afterBox, {-3, -3, -3}, {-2, -2, -2});
}

}  // namespace
