#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/abacus/CbMatrix4Rf.h"
#include "platform/abacus/CbMatrixInternal.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"

namespace {

template <class T>
CbMatrix4R<T> randomMatrix(std::mt19937& random) {
    std::uniform_real_distribution<T> value(-2, 2);
    CbMatrix4R<T> m;
    for (size_t i = 0; i < 16; ++i) {
        m[i] = value(random);
    }
    return m;
}

// Rotation about z for row vectors: (1, 0, 0) turns towards (0, 1, 0).
CbMatrix4Rd rotationZ(double degrees) {
    double c = std::cos(degrees * std::numbers::pi / 180);
    double s = std::sin(degrees * std::numbers::pi / 180);
    return CbMatrix4Rd({c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
}

CbMatrix4Rd rotationX(double degrees) {
    double c = std::cos(degrees * std::numbers::pi / 180);
    double s = std::sin(degrees * std::numbers::pi / 180);
    return CbMatrix4Rd({1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1});
}

void expectPoint(const CbVector3f& actual, const CbVector3f& expected, float tolerance = 1e-5f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

template <class T>
void expectIdentity(const CbMatrix4R<T>& m, T tolerance) {
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_NEAR(m[i], i % 5 == 0 ? 1 : 0, tolerance) << "value " << i;
    }
}

TEST(CbMatrix4R, ProductIsRowMajorAndAppliesTheLeftFactorFirst) {
    std::mt19937 random(3);
    for (int trial = 0; trial < 50; ++trial) {
        CbMatrix4Rd a = randomMatrix<double>(random);
        CbMatrix4Rd b = randomMatrix<double>(random);
        CbMatrix4Rd product = a * b;
        CbMatrix4Rf productF = CbMatrix4Rf(a) * CbMatrix4Rf(b);
        for (size_t r = 0; r < 4; ++r) {
            for (size_t c = 0; c < 4; ++c) {
                double sum = 0;
                for (size_t k = 0; k < 4; ++k) {
                    sum += a[4 * r + k] * b[4 * k + c];
                }
                EXPECT_NEAR(product[4 * r + c], sum, 1e-12);
                EXPECT_NEAR(productF[4 * r + c], sum, 1e-5);
            }
        }
    }

    // Translate by (1, 2, 3), then turn by 90 degrees about z.
    CbMatrix4Rd translate = CbMatrix4Rd::Translation(1, 2, 3);
    EXPECT_EQ(translate[12], 1.0);
    EXPECT_EQ(translate[13], 2.0);
    EXPECT_EQ(translate[14], 3.0);
    CbMatrix4Rd turn = rotationZ(90);
    expectPoint((translate * turn).TransformPoint({1, 0, 0}), {-2, 2, 3});
    expectPoint((turn * translate).TransformPoint({1, 0, 0}), {1, 3, 3});

    // p × (A × B) = (p × A) × B for rigid transformations.
    for (int trial = 0; trial < 20; ++trial) {
        std::uniform_real_distribution<double> angle(-180, 180);
        CbMatrix4Rd a = rotationZ(angle(random)) * rotationX(angle(random)) *
                        CbMatrix4Rd::Translation(1, -2, 0.5);
        CbMatrix4Rd b = rotationX(angle(random)) * CbMatrix4Rd::Translation(-3, 0, 2) *
                        rotationZ(angle(random));
        CbVector3f p(0.25f, -1.5f, 2.0f);
        expectPoint((a * b).TransformPoint(p), b.TransformPoint(a.TransformPoint(p)), 1e-4f);
    }
}

TEST(CbMatrixInternal, InvertReportsTheDeterminantAndLeavesSingularMatricesAlone) {
    std::mt19937 random(5);
    std::vector<CbMatrix4Rd> regular = {
        rotationZ(30) * rotationX(70) * CbMatrix4Rd::Translation(5, -3, 2),
        CbMatrix4Rd({2, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0.5, 0, 1, 2, 3, 1}),
    };
    for (int i = 0; i < 20; ++i) {
        // Diagonally dominant, so well conditioned.
        CbMatrix4Rd m = randomMatrix<double>(random);
        for (size_t k = 0; k < 16; ++k) {
            m[k] = m[k] / 8 + (k % 5 == 0 ? 1 : 0);
        }
        regular.push_back(m);
    }
    for (const CbMatrix4Rd& m : regular) {
        CbMatrix4Rd inverse = m;
        double determinant = 0;
        CbMatrixInternal::Invert(inverse, determinant);
        ASSERT_NE(determinant, 0.0);
        expectIdentity(inverse * m, 1e-12);
        expectIdentity(m * inverse, 1e-12);

        CbMatrix4Rf inverseF(m);
        float determinantF = 0;
        CbMatrixInternal::Invert(inverseF, determinantF);
        EXPECT_NEAR(determinantF, determinant, 1e-4 * std::abs(determinant));
        expectIdentity(inverseF * CbMatrix4Rf(m), 1e-5f);
    }
    CbMatrix4Rd scale = regular[1];
    double determinant = 0;
    CbMatrixInternal::Invert(scale, determinant);
    EXPECT_EQ(determinant, 4.0);
    EXPECT_EQ(scale[0], 0.5);
    EXPECT_EQ(scale[5], 0.25);
    EXPECT_EQ(scale[10], 2.0);

    // Singular matrices with small integers, so that the determinant is exactly 0.
    const CbMatrix4Rd singular[] = {
        CbMatrix4Rd::Zero(),
        CbMatrix4Rd({1, 2, 3, 0, 4, 5, 6, 0, 5, 7, 9, 0, 1, 1, 1, 1}),   // row 2 = row 0 + row 1
        CbMatrix4Rd({1, 1, 3, 0, 2, 2, 5, 0, 7, 7, 1, 0, 4, 4, -2, 1}),  // equal columns
        CbMatrix4Rd({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 3, 4, 5, 1}),   // flattens z
    };
    for (const CbMatrix4Rd& m : singular) {
        CbMatrix4Rd copy = m;
        double d = 1;
        CbMatrixInternal::Invert(copy, d);
        EXPECT_EQ(d, 0.0);
        EXPECT_EQ(copy, m);
        CbMatrix4Rf copyF(m);
        float dF = 1;
        CbMatrixInternal::Invert(copyF, dF);
        EXPECT_EQ(dF, 0.0f);
        EXPECT_EQ(copyF, CbMatrix4Rf(m));
    }
}

TEST(CbMatrix4R, FloatFromDoubleRoundsToNearest) {
    const double ulp = std::ldexp(1.0, -23);  // of floats in [1, 2)
    struct Case {
        double value;
        float expected;
    };
    const Case cases[] = {
        {1 + ulp / 2, 1.0f},                                                 // tie: to even
        {1 + ulp / 2 + std::ldexp(1.0, -40), 1.0f + std::ldexp(1.0f, -23)},  // above half: up
        {1 + 1.5 * ulp, 1.0f + std::ldexp(1.0f, -22)},                       // tie: to even, up
        {1 + ulp - std::ldexp(1.0, -40), 1.0f + std::ldexp(1.0f, -23)},      // just below: up
        {-(1 + 0.75 * ulp), -(1.0f + std::ldexp(1.0f, -23))},
        {0.1, 0.1f},
        {0.75 * std::ldexp(1.0, -149), std::ldexp(1.0f, -149)},  // among the denormals
    };
    CbMatrix4Rd d = CbMatrix4Rd::Zero();
    for (size_t i = 0; i < std::size(cases); ++i) {
        d[i] = cases[i].value;
    }
    CbMatrix4Rf f(d);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(f[i], cases[i].expected) << "value " << i;
    }
}

template <class T>
void checkStreamForm() {
    SCOPED_TRACE(sizeof(T) == 8 ? "double" : "float");
    CbMatrix4R<T> m;
    for (size_t i = 0; i < 16; ++i) {
        m[i] = static_cast<T>(i) + T(0.5);
    }
    m[3] = -T(0);
    CbStreamWriteBinaryBuffer out;
    m.Serialize(out);
    const std::vector<uint8_t>& bytes = out.GetBuffer();
    CbStreamWriteBinaryBuffer expected;  // version 1, then the values in storage order
    expected.WriteVersion(1);
    for (size_t i = 0; i < 16; ++i) {
        if constexpr (sizeof(T) == 8) {
            expected.WriteDouble(m[i]);
        } else {
            expected.WriteFloat(m[i]);
        }
    }
    ASSERT_EQ(bytes, expected.GetBuffer());

    CbMatrix4R<T> back = CbMatrix4R<T>::Zero();
    CbStreamReadBinaryBuffer in(bytes.data(), bytes.size());
    back.Serialize(in);
    EXPECT_EQ(std::memcmp(back.Data(), m.Data(), 16 * sizeof(T)), 0);
    EXPECT_EQ(in.GetRemaining(), 0u);

    for (size_t length = 0; length < bytes.size(); ++length) {
        CbStreamReadBinaryBuffer truncated(bytes.data(), length);
        EXPECT_THROW(back.Serialize(truncated), CbException) << "cut to " << length;
    }
}

TEST(CbMatrix4R, StreamFormIsVersionOneThenSixteenValues) {
    checkStreamForm<double>();
    checkStreamForm<float>();
}

TEST(CbMatrix4R, WithoutTranslationKeepsOnlyTheLinearPart) {
    std::mt19937 random(9);
    CbMatrix4Rd m = randomMatrix<double>(random);
    CbMatrix4Rd linear = m.WithoutTranslation();
    for (size_t i = 0; i < 16; ++i) {
        bool lastColumn = i % 4 == 3;
        bool lastRow = i >= 12;
        double expected = i == 15 ? 1 : (lastColumn || lastRow) ? 0 : m[i];
        EXPECT_EQ(linear[i], expected) << "value " << i;
    }
    // A rigid transformation turns directions as its linear part does.
    CbMatrix4Rd rigid = rotationX(40) * rotationZ(-65) * CbMatrix4Rd::Translation(3, 4, 5);
    CbVector3f d(1, -2, 0.5f);
    expectPoint(rigid.WithoutTranslation().TransformPoint(d),
                rigid.TransformPoint(d) - rigid.TransformPoint({0, 0, 0}), 1e-5f);
}

}  // namespace
