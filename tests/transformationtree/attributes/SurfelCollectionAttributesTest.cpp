#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/harbor/CbFactory.h"
#include "tests/transformationtree/attributes/AttributeTestSupport.h"
#include "transformationtree/attributes/KaCDisconnectedComponentWarningAttribute.h"
#include "transformationtree/attributes/KaCRegistrationHintsAttribute.h"

using namespace AttributeTestSupport;

namespace {
using Warning = KaCDisconnectedComponentWarningAttribute;
using Hints = KaCRegistrationHintsAttribute;

// A hints record (display mode 2) whose collection block names `className` and holds
// `bytes` under the byte count `byteCount`.
std::vector<uint8_t> hintsRecord(const std::wstring& className, const std::vector<uint8_t>& bytes,
                                 uint32_t byteCount) {
    CbStreamWriteBinaryBuffer s;
    s.WriteVersion(1);
    s.WriteUInt32(2);
    s.WriteBool(true);
    s.WriteWideString(className);
    s.WriteUInt32(byteCount);
    s.WriteBuffer(bytes.data(), bytes.size());
    return s.GetBuffer();
}
}  // namespace

TEST(KaCDisconnectedComponentWarningAttribute, CloneCopiesTheCollectionAndEmptyRecordsKeepIt) {
    Warning written;
    auto collection = MakeCollection(5);
    written.SetWarningSurfelCollection(collection);
    written.SetWarningComputedRevision(42);
    CbSmartPointer<Warning> copy = CbCloneByName<Warning>(written);
    ASSERT_TRUE(copy && copy->GetWarningSurfelCollection());
    EXPECT_NE(collection.Get(), copy->GetWarningSurfelCollection().Get());
    EXPECT_EQ(CollectionBytes(collection), CollectionBytes(copy->GetWarningSurfelCollection()));
    EXPECT_EQ(-1, copy->GetWarningComputedRevision());

    EXPECT_TRUE(written.ResetAttribute());
    EXPECT_FALSE(written.GetWarningSurfelCollection());
    EXPECT_EQ(42, written.GetWarningComputedRevision());
    EXPECT_EQ((std::vector<uint8_t>{1, 0, 0, 0, 0}), Write(written));
    EXPECT_EQ(0u, Read(*copy, Write(written)));  // a false flag keeps the collection
    EXPECT_EQ(CollectionBytes(collection), CollectionBytes(copy->GetWarningSurfelCollection()));
}

TEST(KaCRegistrationHintsAttribute, ResetKeepsOnlyTheRevisionAndCloneOnlyTheCollection) {
    Hints hints;
    auto collection = MakeCollection(4);
    hints.SetRegistrationHintSurfelCollection(collection);
    hints.SetDisplayMode(Hints::eDisplayModeOverlay);
    hints.SetComputationStatus(Hints::eComputationStatusComputed);
    hints.SetTriangulations({CbMakeShared<CyTriangulationBase>()});
    hints.SetTriangulations(hints.GetTriangulations());  // its own vector: entries kept
    EXPECT_EQ(1u, hints.GetTriangulations().size());
    hints.SetHintsComputedRevision(99);

    CbSmartPointer<Hints> copy = CbCloneByName<Hints>(hints);
    ASSERT_TRUE(copy && copy->GetRegistrationHintSurfelCollection());
    EXPECT_NE(collection.Get(), copy->GetRegistrationHintSurfelCollection().Get());
    EXPECT_EQ(CollectionBytes(collection),
              CollectionBytes(copy->GetRegistrationHintSurfelCollection()));
    EXPECT_TRUE(copy->GetTriangulations().empty());
    EXPECT_EQ(Hints::eDisplayModeHidden, copy->GetDisplayMode());
    EXPECT_EQ(Hints::eComputationStatusNotComputed, copy->GetComputationStatus());
    EXPECT_EQ(-1, copy->GetHintsComputedRevision());

    EXPECT_TRUE(hints.ResetAttribute());
    EXPECT_FALSE(hints.GetRegistrationHintSurfelCollection());
    EXPECT_EQ(Hints::eDisplayModeHidden, hints.GetDisplayMode());
    EXPECT_EQ(Hints::eComputationStatusNotComputed, hints.GetComputationStatus());
    EXPECT_TRUE(hints.GetTriangulations().empty());
    EXPECT_EQ(99, hints.GetHintsComputedRevision());
}

TEST(SurfelCollectionBlock, UnknownClassesAreSkippedAndTheNextRecordReads) {
    auto collection = MakeCollection(3, 10.0f);
    Warning next;
    next.SetWarningSurfelCollection(collection);
    // Neither an unregistered name nor a registered class that is no surfel collection
    // creates anything; both are skipped by their byte count.
    for (const wchar_t* className : {L"NoSuchSurfelCollection", L"KaCRepresentativeAttribute"}) {
        CbStreamWriteBinaryBuffer stream;
        const std::vector<uint8_t> hints = hintsRecord(className, {1, 2, 3, 4, 5, 6, 7}, 7);
        stream.WriteBuffer(hints.data(), hints.size());
        next.Serialize(stream);

        CbStreamReadBinaryBuffer input(stream.GetBuffer());
        Hints hintsReader;
        hintsReader.SetRegistrationHintSurfelCollection(MakeCollection(1));
        static_cast<KaARTTIAttribute&>(hintsReader).Serialize(input);
        EXPECT_FALSE(hintsReader.GetRegistrationHintSurfelCollection());
        EXPECT_EQ(2u, hintsReader.GetDisplayMode());
        Warning warning;
        warning.Serialize(input);
        EXPECT_EQ(CollectionBytes(collection),
                  CollectionBytes(warning.GetWarningSurfelCollection()));
        EXPECT_EQ(0u, input.GetRemaining());
    }
}

TEST(SurfelCollectionBlock, ByteCountsThatDisagreeWithTheRecordThrowAndKeepTheCollection) {
    const std::vector<uint8_t> bytes = CollectionBytes(MakeCollection(3));
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    // The collection reads past its block; the block runs past the stream.
    for (uint32_t byteCount : {size - 1, size + 1, 0xFFFFFFFFu}) {
        Hints hints;
        auto kept = MakeCollection(1);
        hints.SetRegistrationHintSurfelCollection(kept);
        try {
            Read(hints, hintsRecord(L"KaCSurfelCollectionCCT", bytes, byteCount));
            ADD_FAILURE() << "no exception for byte count " << byteCount;
        } catch (const CbException& e) {
            const std::string expected = byteCount < size ? "its block holds" : "cannot fit";
            EXPECT_NE(std::string::npos, std::string(e.what()).find(expected)) << e.what();
        }
        EXPECT_EQ(kept.Get(), hints.GetRegistrationHintSurfelCollection().Get());
    }
}
