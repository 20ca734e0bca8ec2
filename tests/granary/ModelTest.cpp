#include <gtest/gtest.h>

#include "platform/granary/CCT_DepthImage.h"
#include "platform/granary/KaCModelCCT.h"
#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "platform/harbor/CbFactory.h"
#include "platform/velmar/VelmarDepthImage.h"
#include "tests/granary/GranaryTestSupport.h"

using granarytest::SurfelAt;

namespace {

CbSmartPointer<KaCSurfelCollectionCCT> randomCollection(uint32_t count, uint32_t seed) {
    CbSmartPointer<KaCSurfelCollectionCCT> collection(
        new KaCSurfelCollectionCCT(KaCSurfelContainer::eSurfelAttributeSetFull));
    granarytest::AddRandomSurfels(*collection, count, seed);
    return collection;
}

}  // namespace

TEST(Model, ServesCollectionsPerTypeAndMeasuresTheStandardOne) {
    auto main = randomCollection(30, 1);
    main->SetSurfel(0, SurfelAt(900, 0, 0));
    main->SetSurfel(0, SurfelAt(0, 0, 0));  // the box is loose now; the flag recomputes it
    CbSmartPointer<KaCModelCCT> model = KaCModelCCT::Create(main, true);
    EXPECT_LT(main->GetBoundingBox().GetMax().x, 900.0f);
    for (uint32_t type = 0; type < KaCModelCCT::ms_nrCollectionTypes; ++type) {
        EXPECT_EQ(model->GetSurfelCollection(static_cast<KaCModelCCT::ESurfelCollectionType>(type)),
                  main);
    }
    auto high = randomCollection(5, 2);
    model->SetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeHighResolution, high);
    EXPECT_EQ(model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeHighResolution), high);
    EXPECT_EQ(model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard), main);
    EXPECT_THROW(model->GetSurfelCollection(static_cast<KaCModelCCT::ESurfelCollectionType>(5)),
                 CbException);

    CbSmartPointer<KaCSurfelCollectionCCT> box(new KaCSurfelCollectionCCT());
    box->AddSurfel(SurfelAt(1, 1, 1));
    box->AddSurfel(SurfelAt(3, 4, 5));
    box->AddSurfel(SurfelAt(2, 1, 3));
    model->RenewSurfelCollection(box);
    EXPECT_EQ(model->GetBoundingBox(), CyBoundingBox3D({1, 1, 1}, {3, 4, 5}));
    EXPECT_DOUBLE_EQ(model->GetMeasureVolumeCVE(), 2.0 * 3.0 * 4.0);
    EXPECT_EQ(model->GetMeanCenterInMeasureVolume(), CbVector3f(2, 2, 3));
    EXPECT_EQ(model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeHighResolution), high);

    CbSmartPointer<KaCModelCCT> empty = KaCModelCCT::Create(nullptr, true);
    EXPECT_FALSE(empty->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard));
    EXPECT_TRUE(empty->GetBoundingBox().IsEmpty());
    EXPECT_EQ(empty->GetMeanCenterInMeasureVolume(), CbVector3f());
    EXPECT_EQ(empty->GetMeasureVolumeCVE(), 0.0);
}

TEST(Model, ClonesDeeplyWithANewIdAndTransformsIntoItsOwnClass) {
    auto main = randomCollection(40, 3);
    CbSmartPointer<CCT_DepthImage> image = CCT_DepthImage::Create(main, false);
    image->SetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeRaw, main);
    image->SetFilename(L"scan_0001.dat");
    image->SetAcquireSequenceNumber(17);

    CbSmartPointer<KaCModelCCT> clone = CbCloneByName<KaCModelCCT>(*image);
    ASSERT_TRUE(clone && clone->Is(CCT_DepthImage::RTTI));
    EXPECT_NE(clone->GetId(), image->GetId());
    EXPECT_EQ(clone->GetFilename(), L"scan_0001.dat");
    EXPECT_EQ(clone->GetAcquireSequenceNumber(), 17u);
    const auto cloned = clone->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard);
    EXPECT_NE(cloned, main);
    granarytest::ExpectSameSurfels(*cloned, *main);
    EXPECT_EQ(clone->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeRaw), cloned);

    // An axis permutation and a shift, exact in float.
    const CbMatrix4Rd motion(
        std::array<double, 16>{0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 10, 20, 30, 1});
    CbSmartPointer<KaCModelCCT> moved = image->GetTransformedModel(motion);
    EXPECT_TRUE(moved->Is(CCT_DepthImage::RTTI));
    EXPECT_NE(moved->GetId(), image->GetId());
    const auto movedStandard =
        moved->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard);
    ASSERT_EQ(movedStandard->GetNrSurfels(), 40u);
    for (uint32_t i = 0; i < 40; ++i) {
        const KaCSurfel in = main->GetSurfel(i), out = movedStandard->GetSurfel(i);
        EXPECT_EQ(out.position,
                  CbVector3f(in.position.y + 10, in.position.z + 20, in.position.x + 30));
        EXPECT_LE(granarytest::AngleDegrees(out.normal,
                                            CbVector3f(in.normal.y, in.normal.z, in.normal.x)),
                  KaCQuantizedNormal::GetMaxAngularErrorDegrees());
    }
    EXPECT_EQ(moved->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeRaw), movedStandard);
    CyBoundingBox3D expectedBox = main->GetBoundingBox();
    expectedBox.Transform(CbMatrix4Rf(motion));
    EXPECT_EQ(moved->GetBoundingBox(), expectedBox);

    // Velmar depth images are models, but not CCT depth images.
    CbSmartPointer<VelmarDepthImage> velmar = VelmarDepthImage::Create(main, false);
    EXPECT_TRUE(velmar->IsKindOf(KaCModelCCT::RTTI));
    EXPECT_FALSE(velmar->IsKindOf(CCT_DepthImage::RTTI));
    EXPECT_TRUE(velmar->GetTransformedModel(motion)->Is(VelmarDepthImage::RTTI));

    // Compress releases spare capacity and nothing else.
    const size_t before = image->GetUsedDynamicMemory();
    image->Compress(1);
    EXPECT_LT(image->GetUsedDynamicMemory(), before);
    granarytest::ExpectSameSurfels(*main, *cloned);
}

TEST(Model, GeometryAndMetaDataRoundTrip) {
    auto main = randomCollection(25, 5);
    CbSmartPointer<CCT_DepthImage> image = CCT_DepthImage::Create(main, true);
    image->SetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeFiltered, main);
    image->SetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeRegistration,
                               randomCollection(9, 6));
    image->SetFilename(L"Unterkiefer \u00e4 \U0001F9B7.scan");
    image->SetAcquireSequenceNumber(0x123456789ull);
    const auto bytes = granarytest::Written([&](CbStreamWriteBinary& s) {
        image->SerializeMetaData(s);
        image->SerializeGeometry(s);
    });

    CbSmartPointer<KaCModelCCT> read = CbCreateByName<KaCModelCCT>(L"CCT_DepthImage");
    ASSERT_TRUE(read);
    CbStreamReadBinaryBuffer stream(bytes.data(), bytes.size());
    read->SerializeMetaData(stream);
    read->SerializeGeometry(stream);
    EXPECT_EQ(stream.GetRemaining(), 0u);
    EXPECT_EQ(read->GetId(), image->GetId());
    EXPECT_EQ(read->GetFilename(), image->GetFilename());
    EXPECT_EQ(read->GetAcquireSequenceNumber(), 0x123456789ull);
    for (uint32_t type = 0; type < KaCModelCCT::ms_nrCollectionTypes; ++type) {
        const auto t = static_cast<KaCModelCCT::ESurfelCollectionType>(type);
        granarytest::ExpectSameSurfels(*read->GetSurfelCollection(t),
                                       *image->GetSurfelCollection(t));
    }
    EXPECT_EQ(read->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeFiltered),
              read->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeRaw));
    EXPECT_EQ(read->GetBoundingBox(), image->GetBoundingBox());

    // A version the reader does not know changes nothing.
    std::vector<uint8_t> future = bytes;
    future[0] = 9;
    CbStreamReadBinaryBuffer futureStream(future.data(), future.size());
    EXPECT_THROW(read->SerializeMetaData(futureStream), CbExceptionWrongFileVersion);
    EXPECT_EQ(read->GetId(), image->GetId());

    auto readInto = [](CbStreamReadBinary& s) {
        CbSmartPointer<KaCModelCCT> m = KaCModelCCT::Create(nullptr, false);
        m->SerializeMetaData(s);
        m->SerializeGeometry(s);
    };
    granarytest::ExpectTruncationsThrow(bytes, readInto);
    granarytest::ExpectCorruptionHandled(bytes, readInto, 4);
}
