#include <gtest/gtest.h>

#include <limits>

#include "platform/granary/CyTriangulationBase.h"
#include "platform/granary/KaCSurfelCollectionCCT.h"
#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "platform/harbor/CbFactory.h"
#include "tests/granary/GranaryTestSupport.h"

using granarytest::SurfelAt;

namespace {

// The box must hold every finite position.
void expectEnclosesAll(const KaCSurfelCollectionCCT& collection) {
    const CyBoundingBox3D& box = collection.GetBoundingBox();
    for (uint32_t i = 0; i < collection.GetNrSurfels(); ++i) {
        const CbVector3f p = collection.GetPosition(i);
        if (std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) {
            ASSERT_FALSE(box.IsEmpty());
            EXPECT_TRUE(box.GetMin().x <= p.x && p.x <= box.GetMax().x && box.GetMin().y <= p.y &&
                        p.y <= box.GetMax().y && box.GetMin().z <= p.z && p.z <= box.GetMax().z)
                << "surfel " << i;
        }
    }
}

}  // namespace

TEST(SurfelCollection, BoundingBoxFollowsEveryWrite) {
    KaCSurfelCollectionCCT collection(KaCSurfelContainer::eSurfelAttributeSetFull);
    EXPECT_TRUE(collection.GetBoundingBox().IsEmpty());
    collection.AddSurfel(SurfelAt(1, 2, 3));
    collection.AddSurfel(SurfelAt(std::numeric_limits<float>::quiet_NaN(), 50, 50));
    collection.AddSurfel(SurfelAt(-1, 5, 2));
    EXPECT_EQ(collection.GetBoundingBox(), CyBoundingBox3D({-1, 2, 2}, {1, 5, 3}));
    collection.SetSurfel(1, SurfelAt(0, -7, 0));
    expectEnclosesAll(collection);

    KaCSurfelCollectionCCT source(KaCSurfelContainer::eSurfelAttributeSetBasic);
    source.AddSurfel(SurfelAt(10, 0, 0));
    source.AddSurfel(SurfelAt(0, 10, 0));
    const CbMatrix4Rf shift = CbMatrix4Rf::Translation(0, 0, -40);
    collection.CopySurfels(0, source, 0, 2, shift, CbMatrix4Rf());
    collection.CopySurfel(2, source, 0, CbMatrix4Rf::Translation(100, 0, 0), CbMatrix4Rf());
    expectEnclosesAll(collection);
    EXPECT_EQ(collection.GetBoundingBox().GetMin().z, -40.0f);
    EXPECT_EQ(collection.GetBoundingBox().GetMax().x, 110.0f);

    // Growing adds surfels at the origin; shrinking and overwriting leave a larger box that
    // UpdateBoundingBox makes exact.
    KaCSurfelCollectionCCT away;
    away.AddSurfel(SurfelAt(5, 6, 7));
    away.Resize(3);
    EXPECT_EQ(away.GetBoundingBox(), CyBoundingBox3D({0, 0, 0}, {5, 6, 7}));
    collection.Resize(2);
    collection.UpdateBoundingBox();
    EXPECT_EQ(collection.GetBoundingBox(), CyBoundingBox3D({0, 0, -40}, {10, 10, -40}));
}

TEST(SurfelCollection, SizedConstructionStartsWithPlaceholdersOrOrigins) {
    KaCSurfelCollectionCCT placeholders(4, false, KaCSurfelContainer::eSurfelAttributeSetFull,
                                        nullptr);
    EXPECT_EQ(placeholders.GetNrSurfels(), 4u);
    EXPECT_TRUE(placeholders.GetBoundingBox().IsEmpty());
    EXPECT_EQ(placeholders.GetSurfel(3).quality, 1.0f);
    for (uint32_t i = 0; i < 4; ++i) {
        placeholders.SetSurfel(i, SurfelAt(static_cast<float>(i) + 1, 1, 1));
    }
    EXPECT_EQ(placeholders.GetBoundingBox(), CyBoundingBox3D({1, 1, 1}, {4, 1, 1}));

    const KaCSurfelCollectionCCT origins(2, true, KaCSurfelContainer::eSurfelAttributeSetBasic,
                                         nullptr);
    EXPECT_EQ(origins.GetBoundingBox(), CyBoundingBox3D({0, 0, 0}, {0, 0, 0}));

    KaCSurfelCollectionCCT assigned;
    assigned = placeholders;
    granarytest::ExpectSameSurfels(assigned, placeholders);
    EXPECT_EQ(assigned.GetBoundingBox(), placeholders.GetBoundingBox());
}

TEST(SurfelCollection, RecordsRoundTripForEveryAttributeSet) {
    for (auto set :
         {KaCSurfelContainer::eSurfelAttributeSetBasic, KaCSurfelContainer::eSurfelAttributeSetFull,
          KaCSurfelContainer::eSurfelAttributeSetColor}) {
        KaCSurfelCollectionCCT original(set);
        granarytest::AddRandomSurfels(original, 57, 21);
        original.SetSurfel(3, SurfelAt(500, 0, 0));
        original.SetSurfel(3, SurfelAt(0, 0, 0));  // the box of the original is now loose
        const auto bytes =
            granarytest::Written([&](CbStreamWriteBinary& s) { original.Serialize(s); });

        // Read through the base, created by name, as attributes do.
        CbSmartPointer<CySurfelCollectionBase> read =
            CbCreateByName<CySurfelCollectionBase>(L"KaCSurfelCollectionCCT");
        ASSERT_TRUE(read);
        CbStreamReadBinaryBuffer stream(bytes.data(), bytes.size());
        read->Serialize(stream);
        EXPECT_EQ(stream.GetRemaining(), 0u);
        const auto& copy = dynamic_cast<const KaCSurfelCollectionCCT&>(*read);
        granarytest::ExpectSameSurfels(copy, original);
        original.UpdateBoundingBox();
        EXPECT_EQ(copy.GetBoundingBox(), original.GetBoundingBox());
    }
}

TEST(SurfelCollection, ReadersRefuseBadRecordsBeforeChangingAnything) {
    KaCSurfelCollectionCCT original(KaCSurfelContainer::eSurfelAttributeSetFull);
    granarytest::AddRandomSurfels(original, 6, 22);
    const auto bytes = granarytest::Written([&](CbStreamWriteBinary& s) { original.Serialize(s); });
    auto readInto = [](CbStreamReadBinary& s) {
        KaCSurfelCollectionCCT c;
        c.Serialize(s);
    };

    auto patched = [&](size_t offset, uint32_t value) {
        std::vector<uint8_t> copy = bytes;
        for (int b = 0; b < 4; ++b) {
            copy[offset + b] = static_cast<uint8_t>(value >> (8 * b));
        }
        return copy;
    };
    auto expectRefused = [&](const std::vector<uint8_t>& bad, bool wrongVersion) {
        KaCSurfelCollectionCCT target = original;
        CbStreamReadBinaryBuffer stream(bad.data(), bad.size());
        if (wrongVersion) {
            EXPECT_THROW(target.Serialize(stream), CbExceptionWrongFileVersion);
        } else {
            EXPECT_THROW(target.Serialize(stream), CbException);
        }
        granarytest::ExpectSameSurfels(target, original);
    };
    expectRefused(patched(0, 2), true);             // version
    expectRefused(patched(4, 3), false);            // attribute set
    expectRefused(patched(8, 0xFFFFFFFFu), false);  // a count far beyond the bytes left
    expectRefused(patched(8, 7), false);            // one surfel more than the record holds
    granarytest::ExpectTruncationsThrow(bytes, readInto);
    granarytest::ExpectCorruptionHandled(bytes, readInto, 2);
}

TEST(Triangulation, RoundTripsAndRefusesBadRecords) {
    CbSmartPointer<CyTriangulationBase> triangulation =
        CbCreateByName<CyTriangulationBase>(L"CyTriangulationBase");
    ASSERT_TRUE(triangulation);
    triangulation->AddTriangle(0, 1, 2);
    triangulation->AddTriangle(7, 3, 0xFFFFFFFFu);
    EXPECT_THROW(triangulation->GetTriangle(2), CbException);
    CbSmartPointer<CyTriangulationBase> clone = CbCloneByName<CyTriangulationBase>(*triangulation);
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->GetTriangles(), triangulation->GetTriangles());

    const auto bytes =
        granarytest::Written([&](CbStreamWriteBinary& s) { triangulation->Serialize(s); });
    CyTriangulationBase read;
    read.AddTriangle(9, 9, 9);
    CbStreamReadBinaryBuffer stream(bytes.data(), bytes.size());
    read.Serialize(stream);
    EXPECT_EQ(read.GetTriangles(), triangulation->GetTriangles());

    std::vector<uint8_t> huge = bytes;
    huge[4] = huge[5] = huge[6] = huge[7] = 0xFF;
    CbStreamReadBinaryBuffer hugeStream(huge.data(), huge.size());
    EXPECT_THROW(read.Serialize(hugeStream), CbException);
    EXPECT_EQ(read.GetNrTriangles(), 2u);
    auto readInto = [](CbStreamReadBinary& s) {
        CyTriangulationBase t;
        t.Serialize(s);
    };
    granarytest::ExpectTruncationsThrow(bytes, readInto);
    granarytest::ExpectCorruptionHandled(bytes, readInto, 3);
}

TEST(SurfelCollection, CreatedForOverwriteAndFilledThroughTheWritableArrays) {
    for (auto set : {KaCSurfelContainer::eSurfelAttributeSetBasic,
                     KaCSurfelContainer::eSurfelAttributeSetFull}) {
        const auto collection = KaCSurfelCollectionCCT::CreateForOverwrite(5, set, nullptr);
        ASSERT_EQ(collection->GetNrSurfels(), 5u);
        EXPECT_EQ(collection->GetAttributeSet(), set);
        EXPECT_TRUE(collection->GetBoundingBox().IsEmpty());
        const bool full = set == KaCSurfelContainer::eSurfelAttributeSetFull;
        const auto arrays = collection->GetWritableSurfels(1, 4);
        EXPECT_EQ(arrays.colors != nullptr, full);
        EXPECT_EQ(arrays.qualities != nullptr, full);
        collection->SetSurfel(0, KaCSurfel());
        for (uint32_t i = 0; i < 4; ++i) {
            arrays.positions[i] = {static_cast<float>(i), -2.0f * static_cast<float>(i), 1.0f};
            arrays.normalCodes[i] = KaCQuantizedNormal::Encode({1.0f, 0.0f, 0.0f});
            arrays.tissueTypes[i] = static_cast<uint8_t>(i);
            arrays.boundaryFlags[i] = i % 2;
            if (full) {
                arrays.colors[i] = {1, 2, static_cast<uint8_t>(i)};
                arrays.curvatures[i] = 9;
                arrays.qualities[i] = 0.25f;
            }
        }
        collection->SurfelsWritten(1, 4);
        EXPECT_EQ(collection->GetBoundingBox(), CyBoundingBox3D({0, -6, 0}, {3, 0, 1}));
        const KaCSurfel last = collection->GetSurfel(4);
        EXPECT_EQ(last.position, CbVector3f(3, -6, 1));
        EXPECT_EQ(last.normal, CbVector3f(1, 0, 0));
        EXPECT_TRUE(last.tissueType == 3 && last.boundary);
        EXPECT_EQ(last.color, full ? KaCCompressedColor(1, 2, 3) : KaCCompressedColor());
        EXPECT_EQ(last.quality, full ? 0.25f : 1.0f);
        EXPECT_THROW(collection->GetWritableSurfels(3, 3), CbException);
        EXPECT_THROW(collection->SurfelsWritten(5, 1), CbException);
    }
}

TEST(SurfelCollection, BulkCopiesGrowTheBoxByTheFiniteWrittenPositionsOnly) {
    KaCSurfelContainer source(KaCSurfelContainer::eSurfelAttributeSetFull);
    granarytest::AddRandomSurfels(source, 5000, 97, 30.0f);
    for (uint32_t i : {17u, 4000u}) {
        KaCSurfel s = source.GetSurfel(i);
        s.position = {std::numeric_limits<float>::quiet_NaN(), 1e9f, 0.0f};
        source.SetSurfel(i, s);
    }
    const CbMatrix4Rf shift = CbMatrix4Rf::Translation(100.0f, 0.0f, -50.0f);
    KaCSurfelCollectionCCT target(6000, false, KaCSurfelContainer::eSurfelAttributeSetFull,
                                  nullptr);
    target.CopySurfels(1000, source, 0, 5000, shift, CbMatrix4Rf());
    CyBoundingBox3D expected;
    for (uint32_t i = 1000; i < 6000; ++i) {
        expected.Extend(target.GetPosition(i));
    }
    EXPECT_EQ(target.GetBoundingBox(), expected);
    EXPECT_FALSE(expected.IsEmpty());
    EXPECT_LT(expected.GetMax().y, 1e9f);  // the surfels with a NaN coordinate are left out
}
