#include <gtest/gtest.h>

#include <random>

#include "platform/granary/CCT_DepthImage.h"
#include "platform/granary/KaCModelSerializationIDMapper.h"
#include "platform/harbor/CbWeakPointer.h"
#include "platform/velmar/VelmarDepthImage.h"
#include "tests/granary/GranaryTestSupport.h"

namespace {

CbSmartPointer<KaCSurfelCollectionCCT> smallCollection(uint32_t seed) {
    std::mt19937 random(seed);
    CbSmartPointer<KaCSurfelCollectionCCT> collection(new KaCSurfelCollectionCCT());
    for (int i = 0; i < 4; ++i) {
        collection->AddSurfel(granarytest::RandomSurfel(random, 5.0f));
    }
    return collection;
}

class ModelSerializationIDMapper : public testing::Test {
protected:
    void SetUp() override { mapper.ClearMapping(); }
    void TearDown() override { mapper.ClearMapping(); }

    KaCModelSerializationIDMapper& mapper = KaCModelSerializationIDMapper::GetInstance();
};

}  // namespace

TEST_F(ModelSerializationIDMapper, ReferencesReadBackAsTheSameSharedModel) {
    CbSmartPointer<CCT_DepthImage> first = CCT_DepthImage::Create(smallCollection(1), true);
    CbSmartPointer<VelmarDepthImage> second = VelmarDepthImage::Create(smallCollection(2), true);
    first->SetFilename(L"first");

    CbStreamWriteBinaryBuffer references;
    for (CbSmartPointer<const KaCModelCCT> model :
         {CbSmartPointer<const KaCModelCCT>(first), CbSmartPointer<const KaCModelCCT>(nullptr),
          CbSmartPointer<const KaCModelCCT>(second), CbSmartPointer<const KaCModelCCT>(first)}) {
        KaCModelSerializationIDMapper::WriteModelByReference(references, model);
    }
    const auto referenced = mapper.GetReferencedModels();
    ASSERT_EQ(referenced.size(), 2u);
    EXPECT_EQ(referenced[0], first);
    EXPECT_EQ(referenced[1], second);
    CbStreamWriteBinaryBuffer models;
    for (const auto& model : referenced) {
        mapper.WriteModel(models, model);
    }
    EXPECT_THROW(mapper.WriteModel(models, nullptr), CbException);

    mapper.ClearMapping();
    EXPECT_TRUE(mapper.GetReferencedModels().empty());
    CbStreamReadBinaryBuffer modelStream(models.GetData(), models.GetCount());
    CbSmartPointer<KaCModelCCT> readFirst = mapper.ReadModel(modelStream);
    CbSmartPointer<KaCModelCCT> readSecond = mapper.ReadModel(modelStream);
    ASSERT_TRUE(readFirst && readSecond);
    EXPECT_TRUE(readFirst->Is(CCT_DepthImage::RTTI));
    EXPECT_TRUE(readSecond->Is(VelmarDepthImage::RTTI));
    EXPECT_EQ(readFirst->GetId(), first->GetId());
    EXPECT_EQ(readFirst->GetFilename(), L"first");
    EXPECT_EQ(
        readSecond->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)->GetNrSurfels(),
        4u);

    CbStreamReadBinaryBuffer referenceStream(references.GetData(), references.GetCount());
    const auto a = mapper.ReadModelByReference(referenceStream);
    const auto none = mapper.ReadModelByReference(referenceStream);
    const auto b = mapper.ReadModelByReference(referenceStream);
    const auto again = mapper.ReadModelByReference(referenceStream);
    EXPECT_EQ(a, readFirst);
    EXPECT_FALSE(none);
    EXPECT_EQ(b, readSecond);
    EXPECT_EQ(again, readFirst);

    // A model record whose ID is mapped already is refused, and so, after ClearMapping, is a
    // reference to a model that no record holds; the invalid ID still reads as no model.
    CbStreamReadBinaryBuffer repeated(models.GetData(), models.GetCount());
    EXPECT_THROW(mapper.ReadModel(repeated), CbException);
    mapper.ClearMapping();
    CbStreamReadBinaryBuffer laterStream(references.GetData(), references.GetCount());
    EXPECT_THROW(mapper.ReadModelByReference(laterStream), CbException);
    EXPECT_FALSE(mapper.ReadModelByReference(laterStream));
}

// Writing references never keeps a model alive: a scan its owner dropped is freed even
// though nobody cleared the mapping, and is no longer listed.
TEST_F(ModelSerializationIDMapper, WrittenReferencesDoNotKeepModelsAlive) {
    CbSmartPointer<CCT_DepthImage> kept = CCT_DepthImage::Create(smallCollection(1), true);
    CbSmartPointer<CCT_DepthImage> dropped = CCT_DepthImage::Create(smallCollection(2), true);
    CbWeakPointer<const KaCModelCCT> watch(dropped);
    CbStreamWriteBinaryBuffer references;
    KaCModelSerializationIDMapper::WriteModelByReference(references, dropped);
    KaCModelSerializationIDMapper::WriteModelByReference(references, kept);
    ASSERT_EQ(mapper.GetReferencedModels().size(), 2u);

    dropped = nullptr;
    EXPECT_FALSE(watch.Lock());
    const auto referenced = mapper.GetReferencedModels();
    ASSERT_EQ(referenced.size(), 1u);
    EXPECT_EQ(referenced[0], kept);
}

TEST_F(ModelSerializationIDMapper, SkipsUnknownClassesAndRefusesBadRecords) {
    // Records of a class that is unknown, or not a model, are skipped by their byte count.
    CbSmartPointer<KaCModelCCT> model = KaCModelCCT::Create(smallCollection(3), true);
    const auto record =
        granarytest::Written([&](CbStreamWriteBinary& s) { mapper.WriteModel(s, model); });
    const uint32_t nameLength = record[0];
    auto renamed = [&](const std::wstring& name) {
        CbStreamWriteBinaryBuffer s;
        s.WriteWideString(name);
        s.WriteBuffer(record.data() + 4 + 2 * nameLength, record.size() - 4 - 2 * nameLength);
        return s.GetBuffer();
    };
    CbStreamWriteBinaryBuffer mixed;
    for (const auto& bytes :
         {renamed(L"NoSuchModelClass"), renamed(L"KaCSurfelCollectionCCT"), record}) {
        mixed.WriteBuffer(bytes.data(), bytes.size());
    }
    CbStreamReadBinaryBuffer stream(mixed.GetData(), mixed.GetCount());
    EXPECT_FALSE(mapper.ReadModel(stream));
    EXPECT_FALSE(mapper.ReadModel(stream));
    CbSmartPointer<KaCModelCCT> read = mapper.ReadModel(stream);
    ASSERT_TRUE(read);
    EXPECT_EQ(mapper.GetModel(model->GetId()), read);  // read models are mapped by their ID
    EXPECT_FALSE(mapper.GetModel(CyUniqueID()));
    EXPECT_EQ(stream.GetRemaining(), 0u);

    // A payload that its class does not read exactly is refused.
    std::vector<uint8_t> padded = record;
    padded.push_back(0);
    padded[4 + 2 * nameLength] += 1;  // byte count, little-endian
    CbStreamReadBinaryBuffer paddedStream(padded.data(), padded.size());
    EXPECT_THROW(mapper.ReadModel(paddedStream), CbException);

    auto readInto = [this](CbStreamReadBinary& s) { mapper.ReadModel(s); };
    granarytest::ExpectTruncationsThrow(record, readInto);
    EXPECT_GT(granarytest::ExpectCorruptionHandled(record, readInto, 5), 0);
    const auto reference = granarytest::Written([&](CbStreamWriteBinary& s) {
        KaCModelSerializationIDMapper::WriteModelByReference(s, model);
    });
    granarytest::ExpectTruncationsThrow(
        reference, [this](CbStreamReadBinary& s) { mapper.ReadModelByReference(s); });
}
