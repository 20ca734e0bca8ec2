#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "platform/granary/KaCSurfelKernels.h"
#include "platform/granary/KaTQuantizedNormalMultiLevel.h"
#include "tests/granary/GranaryTestSupport.h"

namespace {

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof(float)) == 0;
}

}  // namespace

TEST(SurfelKernels, DecodingManyCodesGivesTheBitsOfDecodingOne) {
    std::vector<uint16_t> codes(65536);
    for (uint32_t code = 0; code < codes.size(); ++code) {
        codes[code] = static_cast<uint16_t>(code);
    }
    std::vector<float> x(codes.size()), y(codes.size()), z(codes.size());
    KaCSurfelKernels::DecodeNormals(codes.data(), codes.size(), nullptr, x.data(), y.data(),
                                    z.data());
    for (uint32_t code = 0; code < codes.size(); ++code) {
        const CbVector3f one = KaCQuantizedNormal::Decode(static_cast<uint16_t>(code));
        ASSERT_TRUE(sameBits(x[code], one.x) && sameBits(y[code], one.y) &&
                    sameBits(z[code], one.z))
            << code;
    }
    // Turned and normalised again, as the grid sampler takes normals.
    const CbMatrix4Rf rotation = granarytest::ObliqueMotion().WithoutTranslation();
    KaCSurfelKernels::DecodeNormals(codes.data(), codes.size(), &rotation, x.data(), y.data(),
                                    z.data());
    for (uint32_t code = 0; code < codes.size(); code += 7) {
        const CbVector3f one =
            rotation.TransformVector(KaCQuantizedNormal::Decode(static_cast<uint16_t>(code)))
                .Normalized();
        ASSERT_TRUE(sameBits(x[code], one.x) && sameBits(y[code], one.y) &&
                    sameBits(z[code], one.z))
            << code;
    }
}

TEST(SurfelKernels, EncodingManyDirectionsGivesTheCodesOfEncodingOne) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<CbVector3f> directions = {{0, 0, 0},      {nan, 0, 1},       {1, 0, nan},
                                          {0, inf, 0},    {-inf, inf, 1},    {3e38f, -3e38f, 3e38f},
                                          {1e-40f, 0, 0}, {0, 0, -1e-30f},   {0.5f, -0.5f, 0},
                                          {1, 1, -1e-7f}, {-0.0f, -0.0f, -1}};
    std::mt19937 random(17);
    for (int i = 0; i < 20000; ++i) {
        directions.push_back(granarytest::RandomUnitVector(random) * (i % 3 == 0   ? 1e-3f
                                                                      : i % 3 == 1 ? 1.0f
                                                                                   : 250.0f));
    }
    // The folds and the equator, where rounding ties are most frequent.
    for (int k = -127; k <= 127; ++k) {
        const float u = (static_cast<float>(k) + 0.5f) / 127.0f;
        directions.push_back({u, 1.0f - std::fabs(u), -1e-3f});
        directions.push_back({u, 1.0f - std::fabs(u), 0.0f});
    }
    std::vector<float> x, y, z;
    for (const CbVector3f& d : directions) {
        x.push_back(d.x);
        y.push_back(d.y);
        z.push_back(d.z);
    }
    std::vector<uint16_t> codes(directions.size());
    KaCSurfelKernels::EncodeNormals(x.data(), y.data(), z.data(), directions.size(), codes.data());
    for (size_t i = 0; i < directions.size(); ++i) {
        ASSERT_EQ(codes[i], KaCQuantizedNormal::Encode(directions[i]))
            << directions[i].x << " " << directions[i].y << " " << directions[i].z;
    }
}

TEST(SurfelKernels, TurningCodesIsDecodingTurningAndEncodingEach) {
    std::vector<uint16_t> codes(65536), turned(65536);
    for (uint32_t code = 0; code < codes.size(); ++code) {
        codes[code] = static_cast<uint16_t>(code * 40503u);
    }
    const CbMatrix4Rf rotation = granarytest::ObliqueMotion().WithoutTranslation();
    KaCSurfelKernels::TurnNormalCodes(codes.data(), turned.data(), codes.size(), rotation);
    for (size_t i = 0; i < codes.size(); ++i) {
        const CbVector3f n = KaCQuantizedNormal::Decode(codes[i]);
        const CbVector3f t{n.x * rotation(0, 0) + n.y * rotation(1, 0) + n.z * rotation(2, 0),
                           n.x * rotation(0, 1) + n.y * rotation(1, 1) + n.z * rotation(2, 1),
                           n.x * rotation(0, 2) + n.y * rotation(1, 2) + n.z * rotation(2, 2)};
        ASSERT_EQ(turned[i], KaCQuantizedNormal::Encode(t)) << codes[i];
        ASSERT_LE(granarytest::AngleDegrees(KaCQuantizedNormal::Decode(turned[i]),
                                            rotation.TransformVector(n)),
                  KaCQuantizedNormal::GetMaxAngularErrorDegrees());
    }
}

TEST(SurfelKernels, RoundingToTheGridIsRoundingHalvesAwayFromZero) {
    std::vector<float> values = {0.0f,  -0.0f,  0.49999997f, -0.49999997f, 0.5f,
                                 -0.5f, 126.5f, -126.5f,     127.0f,       -127.0f,
                                 2.5f,  -2.5f,  8388607.5f};
    for (int k = -254; k <= 254; ++k) {
        const float half = static_cast<float>(k) * 0.5f;
        values.push_back(half);
        values.push_back(std::nextafter(half, 1000.0f));
        values.push_back(std::nextafter(half, -1000.0f));
    }
    for (float value : values) {
        EXPECT_EQ(KaTQuantizedNormalMultiLevelTraitsFast::RoundToGrid(value), std::lround(value))
            << value;
    }
    EXPECT_EQ(KaTQuantizedNormalMultiLevelTraitsFast::RoundToGrid(
                  std::numeric_limits<float>::quiet_NaN()),
              0);
    EXPECT_EQ(KaTQuantizedNormalMultiLevelTraitsFast::RoundToGrid(1e20f), 8388608);
    EXPECT_EQ(KaTQuantizedNormalMultiLevelTraitsFast::RoundToGrid(
                  -std::numeric_limits<float>::infinity()),
              -8388608);
}

TEST(SurfelKernels, PositionsAreTransformedAsTheMatrixTransformsOnePoint) {
    std::mt19937 random(23);
    std::uniform_real_distribution<float> coordinate(-100.0f, 100.0f);
    std::vector<CbVector3f> points(1001);
    for (CbVector3f& p : points) {
        p = {coordinate(random), coordinate(random), coordinate(random)};
    }
    const CbMatrix4Rf m = granarytest::ObliqueMotion();
    std::vector<CbVector3f> out(points.size());
    std::vector<float> x(points.size()), y(points.size()), z(points.size());
    KaCSurfelKernels::TransformPositions(points.data(), out.data(), points.size(), m);
    KaCSurfelKernels::TransformPositions(points.data(), points.size(), m, x.data(), y.data(),
                                         z.data());
    for (size_t i = 0; i < points.size(); ++i) {
        const CbVector3f one = m.TransformPoint(points[i]);
        ASSERT_TRUE(sameBits(out[i].x, one.x) && sameBits(out[i].y, one.y) &&
                    sameBits(out[i].z, one.z))
            << i;
        ASSERT_TRUE(sameBits(x[i], one.x) && sameBits(y[i], one.y) && sameBits(z[i], one.z)) << i;
    }
}

TEST(SurfelKernels, BoundsLeaveOutPointsThatAreNotFinite) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::mt19937 random(29);
    std::uniform_real_distribution<float> coordinate(-50.0f, 50.0f);
    for (int round = 0; round < 6; ++round) {
        std::vector<CbVector3f> points(1 + 300 * static_cast<size_t>(round));
        for (CbVector3f& p : points) {
            p = {coordinate(random), coordinate(random), coordinate(random)};
        }
        if (round % 2 == 1) {
            points[points.size() / 2] = {1e6f, nan, 0.0f};
            points.back() = {-inf, 0.0f, 0.0f};
        }
        CyBoundingBox3D expected;
        for (const CbVector3f& p : points) {
            expected.Extend(p);
        }
        EXPECT_EQ(KaCSurfelKernels::BoundsOf(points.data(), points.size()), expected) << round;
    }
    EXPECT_TRUE(KaCSurfelKernels::BoundsOf(nullptr, 0).IsEmpty());
    const CbVector3f allBad[] = {{nan, 0, 0}, {0, inf, 0}};
    EXPECT_TRUE(KaCSurfelKernels::BoundsOf(allBad, 2).IsEmpty());
}

TEST(SurfelKernels, PackedCellKeysMatchExactFloorsInBothForms) {
    // Faces and signed zeros near the origin, the edges of the packed range and of the 32-bit
    // floors, coordinates that are not finite, and random positions at every magnitude; two
    // cell sizes, two origins (one near the end of the 32-bit range).
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> values = {0.0f,          -0.0f,         -0.25f,     -1.0f,       0.999999f,
                                 1.0f,          1e30f,         -1e30f,     inf,         -inf,
                                 nan,           1048575.9f,    1048576.0f, -1048576.0f, -1048577.0f,
                                 2147483520.0f, -2147483648.0f};
    std::mt19937_64 random(3);
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-30, 40);
    std::uniform_int_distribution<size_t> pick(0, 16);
    std::vector<float> px, py, pz;
    for (int i = 0; i < 3001; ++i) {  // not a multiple of 4: the tail goes through the baseline
        const auto coordinate = [&] {
            return i % 3 == 0 ? values[pick(random)]
                              : std::ldexp(mantissa(random), exponent(random));
        };
        px.push_back(coordinate());
        py.push_back(coordinate());
        pz.push_back(coordinate());
    }
    const int64_t origins[2][3] = {{0, -3, 5}, {2147483000, 0, -2147483000}};
    for (const double cellSize : {1.0, static_cast<double>(0.1f)}) {
        for (const auto& origin : origins) {
            const size_t n = px.size();
            std::vector<uint64_t> keys(n), states(n);
            KaCSurfelKernels::PackedCellKeysBaseline(px.data(), py.data(), pz.data(), n, cellSize,
                                                     origin, keys.data(), states.data());
            for (size_t i = 0; i < n; ++i) {
                const float p[3] = {px[i], py[i], pz[i]};
                bool finite = true, inside = true;
                uint64_t key = 0;
                for (int axis = 0; axis < 3; ++axis) {
                    const double q = static_cast<double>(p[axis]) / cellSize;
                    finite = finite && std::isfinite(q);
                    const bool fits = q > -2147483648.0 && q < 2147483647.0;
                    const double offset =
                        std::floor(q) - static_cast<double>(origin[axis]) + 1048576.0;
                    inside = inside && fits && offset >= 0.0 && offset < 2097152.0;
                    key = (key << 21) | (fits && offset >= 0.0 && offset < 2097152.0
                                             ? static_cast<uint64_t>(offset)
                                             : 0);
                }
                const uint64_t state = finite ? (inside ? 1 : 2) : 0;
                ASSERT_EQ(states[i], state) << px[i] << ' ' << py[i] << ' ' << pz[i];
                if (state == 1) {
                    ASSERT_EQ(keys[i], key) << px[i] << ' ' << py[i] << ' ' << pz[i];
                }
            }
            std::vector<uint64_t> keys2(n), states2(n);
            if (!KaCSurfelKernels::PackedCellKeysAvx2(px.data(), py.data(), pz.data(), n, cellSize,
                                                      origin, keys2.data(), states2.data())) {
                GTEST_SKIP() << "no AVX2 here: only the baseline form was checked";
            }
            for (size_t i = 0; i < n; ++i) {
                ASSERT_EQ(states2[i], states[i]) << px[i] << ' ' << py[i] << ' ' << pz[i];
                if (states[i] == 1) {
                    ASSERT_EQ(keys2[i], keys[i]) << px[i] << ' ' << py[i] << ' ' << pz[i];
                }
            }
        }
    }
}
