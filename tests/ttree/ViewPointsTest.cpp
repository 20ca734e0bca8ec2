#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/granary/KaCSurfelContainer.h"
#include "tools/ttree/ViewPoints.h"

namespace {

KaCSurfel surfelAt(float x, float y, float z) {
    KaCSurfel surfel;
    surfel.position = CbVector3f(x, y, z);
    return surfel;
}

}  // namespace

TEST(ViewPointsTest, CarriesPositionsAndNormalsAndQuantizesTheAttributes) {
    KaCSurfelContainer full(KaCSurfelContainer::eSurfelAttributeSetFull);
    KaCSurfel a = surfelAt(1.0f, 2.0f, 3.0f);
    a.normal = CbVector3f(0.0f, 0.0f, 1.0f);
    a.color = KaCCompressedColor(10, 20, 30);
    a.quality = 0.5f;
    full.AddSurfel(a);
    KaCSurfel b = surfelAt(-1.0f, 0.0f, 0.5f);
    b.normal = CbVector3f(0.6f, 0.8f, 0.0f);
    b.quality = 2.0f;  // above 1: clamped
    full.AddSurfel(b);
    KaCSurfel c = surfelAt(std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f);
    full.AddSurfel(c);  // not finite: left out
    KaCSurfel d = surfelAt(0.0f, 0.0f, 0.0f);
    d.quality = std::numeric_limits<float>::quiet_NaN();
    full.AddSurfel(d);
    KaCSurfel e = surfelAt(0.0f, 0.0f, 0.0f);
    e.quality = -3.0f;
    full.AddSurfel(e);

    // A quarter turn about z (row vectors: x goes to y), then a shift by (10, 20, 30).
    CbMatrix4Rd trafo = CbMatrix4Rd::Translation(10.0, 20.0, 30.0);
    trafo(0, 0) = 0.0;
    trafo(0, 1) = 1.0;
    trafo(1, 0) = -1.0;
    trafo(1, 1) = 0.0;

    ViewPoints points;
    EXPECT_EQ(points.Append(full, trafo), 4u);
    ASSERT_EQ(points.GetCount(), 4u);
    ASSERT_EQ(points.GetPositions().size(), 12u);
    ASSERT_EQ(points.GetNormals().size(), 12u);
    ASSERT_EQ(points.GetColors().size(), 12u);
    const std::vector<float>& p = points.GetPositions();
    // (1, 2, 3) turned to (-2, 1, 3), shifted.
    EXPECT_FLOAT_EQ(p[0], 8.0f);
    EXPECT_FLOAT_EQ(p[1], 21.0f);
    EXPECT_FLOAT_EQ(p[2], 33.0f);
    EXPECT_FLOAT_EQ(p[3], 10.0f);
    EXPECT_FLOAT_EQ(p[4], 19.0f);
    EXPECT_FLOAT_EQ(p[5], 30.5f);
    const std::vector<int8_t>& n = points.GetNormals();
    EXPECT_EQ(n[0], 0);
    EXPECT_EQ(n[1], 0);
    EXPECT_EQ(n[2], 127);
    // (0.6, 0.8, 0) turned to (-0.8, 0.6, 0); the stored normal is quantised on 16 bits,
    // so allow one step.
    EXPECT_NEAR(n[3], -102, 1);
    EXPECT_NEAR(n[4], 76, 1);
    EXPECT_EQ(n[5], 0);
    const std::vector<uint8_t>& colors = points.GetColors();
    EXPECT_EQ(colors[0], 10);
    EXPECT_EQ(colors[1], 20);
    EXPECT_EQ(colors[2], 30);
    const std::vector<uint16_t>& q = points.GetQualities();
    EXPECT_EQ(q[0], 32768);  // 0.5 * 65535 = 32767.5, rounded away from zero
    EXPECT_EQ(q[1], 65535);
    EXPECT_EQ(q[2], 0);  // NaN
    EXPECT_EQ(q[3], 0);  // negative

    // A container without colour or quality: grey, and the library's quality 1. Appending
    // keeps what was there.
    KaCSurfelContainer basic(KaCSurfelContainer::eSurfelAttributeSetBasic);
    basic.AddSurfel(surfelAt(5.0f, 6.0f, 7.0f));
    EXPECT_EQ(points.Append(basic, c_matIdentityD), 1u);
    ASSERT_EQ(points.GetCount(), 5u);
    EXPECT_FLOAT_EQ(points.GetPositions()[12], 5.0f);
    EXPECT_FLOAT_EQ(points.GetPositions()[14], 7.0f);
    EXPECT_EQ(points.GetColors()[12], ViewPoints::c_grey);
    EXPECT_EQ(points.GetColors()[14], ViewPoints::c_grey);
    EXPECT_EQ(points.GetQualities()[4], 65535);
    EXPECT_FLOAT_EQ(points.GetPositions()[0], 8.0f);
}
