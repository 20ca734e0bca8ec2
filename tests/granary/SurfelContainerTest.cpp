#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "platform/abacus/CbMatrix4Rf.h"
#include "platform/granary/KaCSurfelContainer.h"
#include "tests/granary/GranaryTestSupport.h"

using granarytest::AngleDegrees;

namespace {

// p × M in double precision; w = 0 leaves the translation out.
CbVector3f timesRowVector(const CbVector3f& p, const CbMatrix4Rf& m, double w) {
    double out[3];
    for (int col = 0; col < 3; ++col) {
        out[col] = p.x * double{m(0, col)} + p.y * double{m(1, col)} + p.z * double{m(2, col)} +
                   w * m(3, col);
    }
    return {static_cast<float>(out[0]), static_cast<float>(out[1]), static_cast<float>(out[2])};
}

}  // namespace

TEST(SurfelContainer, StoresItsAttributeSetAndHandsOutAccessors) {
    for (auto set :
         {KaCSurfelContainer::eSurfelAttributeSetBasic, KaCSurfelContainer::eSurfelAttributeSetFull,
          KaCSurfelContainer::eSurfelAttributeSetColor}) {
        KaCSurfelContainer full(KaCSurfelContainer::eSurfelAttributeSetFull);
        KaCSurfelContainer container(set);
        granarytest::AddRandomSurfels(full, 30, 1);
        granarytest::AddRandomSurfels(container, 30, 1);
        container.Resize(32);
        const bool color = set != KaCSurfelContainer::eSurfelAttributeSetBasic;
        const bool quality = set == KaCSurfelContainer::eSurfelAttributeSetFull;
        ASSERT_EQ(container.HasQualityFlag(), quality);
        const auto positions =
            container.GetAccessor<CbVector3f>(KaCSurfelContainer::eAttributeIdPosition);
        const auto normals = container.GetNormalAccessor();
        for (uint32_t i = 0; i < 30; ++i) {
            const KaCSurfel in = full.GetSurfel(i), out = container.GetSurfel(i);
            EXPECT_EQ(positions[i], in.position);
            EXPECT_EQ(normals[i].Get(), out.normal);
            EXPECT_LE(AngleDegrees(out.normal, in.normal),
                      KaCQuantizedNormal::GetMaxAngularErrorDegrees());
            EXPECT_EQ(container.GetTissueTypeAccessor()[i], in.tissueType);
            EXPECT_EQ(container.GetBoundaryFlagAccessor()[i], in.boundary);
            EXPECT_EQ(out.color, color ? in.color : KaCCompressedColor());
            EXPECT_EQ(out.quality, quality ? in.quality : 1.0f);
            if (color) {
                EXPECT_EQ(container.GetAccessor<KaCCompressedColor>(
                              KaCSurfelContainer::eAttributeIdColor)[i],
                          in.color);
                EXPECT_EQ(
                    container.GetAccessor<uint8_t>(KaCSurfelContainer::eAttributeIdCurvature)[i],
                    in.curvature);
            }
            if (quality) {
                EXPECT_EQ(container.GetQualityAccessor()[i], in.quality);
            }
        }
        // Surfels added by Resize take the defaults.
        const KaCSurfel grown = container.GetSurfel(31);
        EXPECT_TRUE(grown.position == CbVector3f() && grown.normal == CbVector3f(0, 0, 1) &&
                    grown.quality == 1.0f);
        EXPECT_THROW(container.GetSurfel(32), CbException);
        EXPECT_THROW(container.SetSurfel(32, KaCSurfel()), CbException);
    }
}

TEST(SurfelContainer, GenericAccessorRefusesMissingAttributesAndWrongSizes) {
    const KaCSurfelContainer basic(KaCSurfelContainer::eSurfelAttributeSetBasic);
    const KaCSurfelContainer color(KaCSurfelContainer::eSurfelAttributeSetColor);
    auto expectRefused = [](auto&& lookUp) {
        try {
            lookUp();
            ADD_FAILURE() << "no exception";
        } catch (const CbException& e) {
            EXPECT_EQ(e.GetMessage(), "KaCSurfelContainer::GetAccessor");
        }
    };
    expectRefused(
        [&] { basic.GetAccessor<KaCCompressedColor>(KaCSurfelContainer::eAttributeIdColor); });
    expectRefused([&] { basic.GetAccessor<uint8_t>(KaCSurfelContainer::eAttributeIdCurvature); });
    expectRefused([&] { color.GetAccessor<float>(KaCSurfelContainer::eAttributeIdQuality); });
    expectRefused([&] { basic.GetAccessor<uint8_t>(999); });
    expectRefused([&] { basic.GetAccessor<float>(KaCSurfelContainer::eAttributeIdPosition); });
    expectRefused([&] { color.GetAccessor<uint16_t>(KaCSurfelContainer::eAttributeIdColor); });
    EXPECT_THROW(color.GetQualityAccessor(), CbException);
}

TEST(SurfelContainer, CopySurfelsTransformsPositionsAndTurnsNormals) {
    KaCSurfelContainer source(KaCSurfelContainer::eSurfelAttributeSetFull);
    granarytest::AddRandomSurfels(source, 101, 4, 50.0f);
    const CbMatrix4Rf motion = granarytest::ObliqueMotion();
    const CbMatrix4Rf rotation = motion.WithoutTranslation();
    KaCSurfelContainer bulk(KaCSurfelContainer::eSurfelAttributeSetFull);
    bulk.Resize(105);
    KaCSurfelContainer single = bulk;
    bulk.CopySurfels(3, source, 0, 101, motion, rotation);
    for (uint32_t i = 0; i < 101; ++i) {
        single.CopySurfel(i + 3, source, i, motion, rotation);
    }
    for (uint32_t i = 0; i < 101; ++i) {
        const KaCSurfel in = source.GetSurfel(i), out = bulk.GetSurfel(i + 3);
        const CbVector3f expected = timesRowVector(in.position, motion, 1.0);
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(out.position[a], expected[a], 1e-4f);
        }
        // The normal is turned, not moved.
        EXPECT_LE(AngleDegrees(out.normal, timesRowVector(in.normal, motion, 0.0)),
                  KaCQuantizedNormal::GetMaxAngularErrorDegrees());
        EXPECT_TRUE(out.color == in.color && out.quality == in.quality &&
                    out.tissueType == in.tissueType && out.boundary == in.boundary);
    }
    // One surfel at a time gives exactly what the bulk copy gives.
    granarytest::ExpectSameSurfels(single, bulk);
    EXPECT_EQ(bulk.GetSurfel(104).position, CbVector3f());  // outside the range: untouched
    EXPECT_THROW(bulk.CopySurfels(5, source, 0, 101, motion, rotation), CbException);
    EXPECT_THROW(bulk.CopySurfels(0, source, 1, 101, motion, rotation), CbException);
    EXPECT_THROW(bulk.CopySurfel(0, source, 101, motion, rotation), CbException);
}

TEST(SurfelContainer, CopyFillsMissingAttributesWithDefaultsAndHandlesOverlap) {
    KaCSurfelContainer basic(KaCSurfelContainer::eSurfelAttributeSetBasic);
    KaCSurfelContainer full(KaCSurfelContainer::eSurfelAttributeSetFull);
    granarytest::AddRandomSurfels(basic, 8, 5);
    granarytest::AddRandomSurfels(full, 8, 6);
    full.CopySurfels(0, basic, 0, 4, CbMatrix4Rf(), CbMatrix4Rf());
    full.CopySurfel(7, basic, 7, CbMatrix4Rf(), CbMatrix4Rf());
    for (uint32_t i : {0u, 3u, 7u}) {
        const KaCSurfel s = full.GetSurfel(i);
        EXPECT_EQ(s.position, basic.GetSurfel(i).position);
        EXPECT_TRUE(s.color == KaCCompressedColor() && s.curvature == 0 && s.quality == 1.0f);
    }

    // Shifting a range of a container over itself reads the source as it was.
    KaCSurfelContainer shifted = full;
    const CbMatrix4Rf up = CbMatrix4Rf::Translation(0, 0, 1);
    shifted.CopySurfels(2, shifted, 0, 6, up, CbMatrix4Rf());
    shifted.CopySurfel(1, shifted, 1, up, CbMatrix4Rf());
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(shifted.GetSurfel(i + 2).position, up.TransformPoint(full.GetSurfel(i).position));
        EXPECT_EQ(shifted.GetSurfel(i + 2).quality, full.GetSurfel(i).quality);
    }
    EXPECT_EQ(shifted.GetSurfel(1).position, up.TransformPoint(full.GetSurfel(1).position));
}
