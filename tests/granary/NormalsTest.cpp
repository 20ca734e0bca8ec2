#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "platform/granary/KaCQuantizedNormalBinning.h"
#include "platform/granary/KaTQuantizedNormalMultiLevel.h"
#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "tests/granary/GranaryTestSupport.h"

using granarytest::AngleDegrees;

TEST(QuantizedNormal, StaysWithinTheStatedAngularErrorEverywhere) {
    std::mt19937 random(7);
    std::vector<CbVector3f> directions = {{1e-30f, -2e-30f, 3e-30f}, {3e38f, 3e38f, -3e38f}};
    for (int i = 0; i < 200000; ++i) {
        directions.push_back(granarytest::RandomUnitVector(random));
    }
    // The folds of the octahedral map, the equator and the poles, where errors peak.
    for (float t = -1.0f; t <= 1.0f; t += 0.001f) {
        const float r = 1.0f - std::fabs(t);
        directions.insert(directions.end(),
                          {{t, r, 1e-4f}, {t, -r, -0.3f}, {1e-6f, t, -1}, {t, -1e-6f, -r}});
    }
    for (const CbVector3f& direction : directions) {
        const CbVector3f decoded = KaCQuantizedNormal(direction).Get();
        ASSERT_NEAR(decoded.Length(), 1.0f, 1e-6f);
        ASSERT_LE(AngleDegrees(decoded, direction), KaCQuantizedNormal::GetMaxAngularErrorDegrees())
            << direction.x << " " << direction.y << " " << direction.z;
    }
}

TEST(QuantizedNormal, AxesAreExactAndDegenerateInputGivesPositiveZ) {
    for (const CbVector3f axis :
         {CbVector3f{1, 0, 0}, CbVector3f{-1, 0, 0}, CbVector3f{0, 1, 0}, CbVector3f{0, -1, 0},
          CbVector3f{0, 0, 1}, CbVector3f{0, 0, -1}}) {
        EXPECT_EQ(KaCQuantizedNormal(axis * 5.0f).Get(), axis);
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (const CbVector3f bad : {CbVector3f{}, CbVector3f{nan, 0, 1}, CbVector3f{0, inf, 0}}) {
        EXPECT_EQ(KaCQuantizedNormal(bad).Get(), CbVector3f(0, 0, 1));
    }
    EXPECT_EQ(KaCQuantizedNormal().Get(), CbVector3f(0, 0, 1));
}

TEST(QuantizedNormal, EveryCodeDecodesToAUnitVectorThatEncodesStably) {
    for (uint32_t code = 0; code <= 0xFFFF; ++code) {
        const CbVector3f decoded = KaCQuantizedNormal::FromCode(static_cast<uint16_t>(code)).Get();
        ASSERT_NEAR(decoded.Length(), 1.0f, 1e-6f) << code;
        // Codes on the folds name one direction twice, so compare directions, not codes.
        ASSERT_LT(AngleDegrees(KaCQuantizedNormal(decoded).Get(), decoded), 1e-3) << code;
    }
}

TEST(NormalBinning, CountsAndMeanDirections) {
    KaCQuantizedNormalBinning binning;
    binning.AddNormal({0, 0, 0});
    binning.AddNormal({std::numeric_limits<float>::quiet_NaN(), 0, 1});
    EXPECT_EQ(binning.GetTotalCount(), 0u);
    EXPECT_EQ(binning.ComputeMeanDirectionAboveThresholdCount(0), CbVector3f());

    // Normals in a cone: the mean is the cone's axis within the bin resolution.
    std::mt19937 random(3);
    const CbVector3f axis = CbVector3f(0.37f, -0.52f, -0.77f).Normalized();
    for (int i = 0; i < 5000; ++i) {
        binning.AddNormal(axis + granarytest::RandomUnitVector(random) * 0.2f, 2);
    }
    EXPECT_EQ(binning.GetTotalCount(), 10000u);
    EXPECT_LT(AngleDegrees(binning.ComputeMeanDirectionAboveThresholdCount(1), axis), 3.0);

    // The threshold drops the weak bins; counts saturate instead of wrapping.
    KaCQuantizedNormalBinning twoBins;
    twoBins.AddNormal({1, 0, 0}, 10);
    twoBins.AddNormal({0, 1, 0}, 9);
    EXPECT_LT(AngleDegrees(twoBins.ComputeMeanDirectionAboveThresholdCount(9), CbVector3f(1, 1, 0)),
              8.0);
    EXPECT_LT(
        AngleDegrees(twoBins.ComputeMeanDirectionAboveThresholdCount(10), CbVector3f(1, 0, 0)),
        6.0);
    EXPECT_EQ(twoBins.ComputeMeanDirectionAboveThresholdCount(11), CbVector3f());
    twoBins.AddNormal({1, 0, 0}, UINT32_MAX);
    EXPECT_EQ(twoBins.GetTotalCount(), uint64_t{UINT32_MAX} + 9);

    // Every direction's bin lies near it (bins are 1/8 of the map wide, stretched most along
    // the map's folds).
    for (int i = 0; i < 20000; ++i) {
        const CbVector3f direction = granarytest::RandomUnitVector(random);
        const uint32_t bin = KaCQuantizedNormalBinning::GetBinIndex(direction);
        ASSERT_LT(AngleDegrees(KaCQuantizedNormalBinning::GetBinDirection(bin), direction), 15.0);
    }
}

TEST(NormalBinning, RecordsRoundTripAndBadRecordsAreRefused) {
    KaCQuantizedNormalBinning binning;
    std::mt19937 random(5);
    for (uint32_t i = 0; i < 300; ++i) {
        binning.AddNormal(granarytest::RandomUnitVector(random), i);
    }
    const auto bytes = granarytest::Written([&](CbStreamWriteBinary& s) { binning.Serialize(s); });
    KaCQuantizedNormalBinning read;
    CbStreamReadBinaryBuffer stream(bytes.data(), bytes.size());
    read.Serialize(stream);
    EXPECT_EQ(read, binning);
    read.Clear();
    EXPECT_EQ(read.GetTotalCount(), 0u);

    // A wrong version or bin count is refused before anything changes.
    for (size_t offset : {0, 4}) {
        std::vector<uint8_t> bad = bytes;
        bad[offset] ^= 0x03;
        CbStreamReadBinaryBuffer badStream(bad.data(), bad.size());
        KaCQuantizedNormalBinning target = binning;
        if (offset == 0) {
            EXPECT_THROW(target.Serialize(badStream), CbExceptionWrongFileVersion);
        } else {
            EXPECT_THROW(target.Serialize(badStream), CbException);
        }
        EXPECT_EQ(target, binning);
    }
    auto readInto = [](CbStreamReadBinary& s) { KaCQuantizedNormalBinning().Serialize(s); };
    granarytest::ExpectTruncationsThrow(bytes, readInto);
    granarytest::ExpectCorruptionHandled(bytes, readInto, 1);
}
