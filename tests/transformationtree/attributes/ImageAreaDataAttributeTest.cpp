#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TreeTestSupport.h"
#include "tests/transformationtree/attributes/AttributeTestSupport.h"
#include "transformationtree/attributes/KaCImageAreaDataAttribute.h"

using namespace AttributeTestSupport;

namespace {

using ImageArea = KaCImageAreaDataAttribute;

// The stored fields in record order, grouped by the version that introduced them.
struct Fields {
    struct {
        std::wstring id;
        bool correlated;
        int32_t level;
        float trafoScale;  // of the correlation trafo; the jaw relaxation trafo has twice it
        float error;
        bool jawRelaxed, impression;
        int64_t nodeRevisionState;
        std::wstring guidState;
        int64_t guidRevisionState;
    } v0;
    struct {
        int64_t areaCorrelationRevision, refAreaCorrelationRevision;
    } v1;
    struct {
        int64_t timeChanged;
    } v2;
    struct {
        int64_t nodeRevisionData;
        std::wstring guidData;
        int64_t guidRevisionData;
        std::wstring guidCorr;
    } v3;
};
const Fields c_stored{{L"object-\u00e9", true, 2, 2.0f, 0.5f, true, true, 11, L"state", 12},
                      {13, 14},
                      {1700000000},
                      {15, L"data", 16, L"corr"}};
const Fields c_before{{L"before", false, 1, 3.0f, 0.75f, false, false, 111, L"s0", 112},
                      {113, 114},
                      {1600000000},
                      {115, L"d0", 116, L"c0"}};

CbMatrix4Rf trafo(float scale) {
    CbMatrix4Rf matrix = CbMatrix4Rf::Translation(1.0f, 2.0f, 3.0f);
    matrix(0, 0) = scale;
    return matrix;
}

void writeMatrix(CbStreamWriteBinary& s, const CbMatrix4Rf& matrix, uint32_t version) {
    s.WriteVersion(version);
    for (size_t i = 0; i < 16; ++i) {
        s.WriteFloat(matrix[i]);
    }
}

// A record of `version` written field by field; its matrices carry `matrixVersion`.
std::vector<uint8_t> record(uint32_t version, const Fields& f, uint32_t matrixVersion = 7) {
    CbStreamWriteBinaryBuffer s;
    s.WriteUInt32(version);
    s.WriteWideString(f.v0.id);
    s.WriteBool(f.v0.correlated);
    s.WriteInt32(f.v0.level);
    writeMatrix(s, trafo(f.v0.trafoScale), matrixVersion);
    s.WriteFloat(f.v0.error);
    s.WriteBool(f.v0.jawRelaxed);
    writeMatrix(s, trafo(2.0f * f.v0.trafoScale), matrixVersion);
    s.WriteBool(f.v0.impression);
    s.WriteInt64(f.v0.nodeRevisionState);
    s.WriteWideString(f.v0.guidState);
    s.WriteInt64(f.v0.guidRevisionState);
    if (version >= 1) {
        s.WriteInt64(f.v1.areaCorrelationRevision);
        s.WriteInt64(f.v1.refAreaCorrelationRevision);
    }
    if (version >= 2) {
        s.WriteInt64(f.v2.timeChanged);
    }
    if (version >= 3) {
        s.WriteInt64(f.v3.nodeRevisionData);
        s.WriteWideString(f.v3.guidData);
        s.WriteInt64(f.v3.guidRevisionData);
        s.WriteWideString(f.v3.guidCorr);
    }
    return s.GetBuffer();
}

// One line of ToString: the label padded to 30 characters, then the value text.
std::wstring entry(std::wstring label, const std::wstring& value) {
    label.resize(30, L' ');
    return L"\n\t" + label + L": " + value;
}

std::wstring hex(const void* address) {
    std::wostringstream text;
    text << std::uppercase << std::hex
         << static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
    return text.str();
}

}  // namespace

TEST(KaCImageAreaDataAttribute, DefaultsCounterAndImpressionMatrix) {
    ImageArea attribute;
    EXPECT_EQ(L"00000000-0000-0000-0000-000000000000", attribute.GetCorrelationObjectID());
    EXPECT_EQ(3.4028235e38f, attribute.GetCorrelationError());
    for (int64_t revision :
         {attribute.GetLastNodeRevisionState(), attribute.GetLastNodeRevisionData(),
          attribute.GetLastAreaCorrelationRevision(), attribute.GetLastRefAreaCorrelationRevision(),
          attribute.GetLastGUIDRevisionState(), attribute.GetLastGUIDRevisionData()}) {
        EXPECT_EQ(-1, revision);
    }
    const std::wstring text = attribute.ToString();
    for (const wchar_t* label : {L"corrTrafo", L"jawRelaxTrafo", L"lastSucCorrTrafo"}) {
        EXPECT_NE(std::wstring::npos, text.find(entry(label, L"== identity"))) << label;
    }

    EXPECT_EQ(1u, attribute.IncrementEnqueuedAreaCorrelationTasks());
    EXPECT_EQ(2u, attribute.IncrementEnqueuedAreaCorrelationTasks());
    EXPECT_EQ(1u, attribute.DecrementEnqueuedAreaCorrelationTasks());
    EXPECT_EQ(1u, attribute.GetNumEnqueuedAreaCorrelationTasks());
    EXPECT_EQ(4294967295u, ImageArea().DecrementEnqueuedAreaCorrelationTasks());

    EXPECT_EQ(c_matIdentityF, attribute.GetImpressionMatrix());
    attribute.SetIsImpressionScan(true);
    CbMatrix4Rf halfTurn = c_matIdentityF;
    halfTurn(0, 0) = -1.0f;
    halfTurn(2, 2) = -1.0f;
    EXPECT_EQ(halfTurn, attribute.GetImpressionMatrix());
}

TEST(KaCImageAreaDataAttribute, ToStringPrintsEveryFieldInTheFixedLayout) {
    ImageArea attribute;
    ASSERT_EQ(0u, Read(attribute, record(3, c_stored)));
    attribute.SetCorrelationObjectID(L"abc");
    attribute.SetIsJawRelaxed(false);
    attribute.SetJawRelaxationTrafo(c_matIdentityF);
    attribute.SetLastNodeRevisionState(0x100000005);  // printed as its low 32 bits
    attribute.SetLastNodeRevisionData(-1);
    attribute.SetLastRefAreaCorrelationRevision(-2);
    attribute.SetLastGUIDRevisionState(0xFFFFFFFF);  // low 32 bits, signed: -1
    auto animation = MakeCollection(2);
    attribute.SetAnimation(animation);
    attribute.IncrementEnqueuedAreaCorrelationTasks();
    attribute.IncrementEnqueuedAreaCorrelationTasks();

    const std::wstring expected =
        L"KaCImageAreaDataAttribute Instance " + hex(&attribute) + L": " +
        entry(L"running Tasks", L"2 ") + entry(L"corrObjID", L"abc ") + entry(L"isCorr", L"Yes ") +
        entry(L"corrLvl", L"2 ") + entry(L"corrTrafo", L"!= identity") +
        entry(L"corrErr", L"0.500000 ") + entry(L"isJawRelaxed", L"No ") +
        entry(L"jawRelaxTrafo", L"== identity") + entry(L"isImpressionScan", L"Yes") +
        entry(L"AnimationInstance", hex(animation.Get())) +
        entry(L"lastSucCorrTrafo", L"== identity") + entry(L"lastNodeRevState", L"5 ") +
        entry(L"lastNodeRevData", L"-1 ") + entry(L"lastAreaCorrRev", L"13 ") +
        entry(L"lastRefAreaCorrRev", L"-2 ") + entry(L"lastGUID state", L"state") +
        entry(L"lastGUIDRev state", L"-1") + entry(L"lastGUID data", L"data") +
        entry(L"lastGUIDRev data", L"16") + entry(L"lastGUID corr", L"corr");
    EXPECT_EQ(expected, attribute.ToString());
}

TEST(KaCImageAreaDataAttribute, ReadsVersions0To3KeepingTheFieldsAVersionLacks) {
    for (uint32_t version = 0; version <= 3; ++version) {
        for (bool correlated : {true, false}) {
            SCOPED_TRACE("version " + std::to_string(version) + (correlated ? " correlated" : ""));
            Fields stored = c_stored;
            stored.v0.correlated = correlated;
            ImageArea reader;
            ASSERT_EQ(0u, Read(reader, record(3, c_before)));
            EXPECT_EQ(0u, Read(reader, record(version, stored)));

            Fields expected = c_before;
            expected.v0 = stored.v0;
            // Version 0 marks both area correlation revisions by the correlated flag.
            const int64_t mark = correlated ? -2 : -1;
            expected.v1 = version >= 1 ? stored.v1 : decltype(expected.v1){mark, mark};
            expected.v2 = version >= 2 ? stored.v2 : expected.v2;
            expected.v3 = version >= 3 ? stored.v3 : expected.v3;
            EXPECT_EQ(record(3, expected, 1), Write(reader));
        }
    }
}

TEST(KaCImageAreaDataAttribute, RecordLeavesOutAnimationLastSuccessfulTrafoAndTaskCount) {
    ImageArea reader;
    auto animation = MakeCollection(3);
    reader.SetAnimation(animation);
    reader.SetLastSuccessfulCorrelationTrafo(trafo(8.0f));
    reader.IncrementEnqueuedAreaCorrelationTasks();
    ImageArea written;
    written.SetLastSuccessfulCorrelationTrafo(trafo(9.0f));
    written.SetAnimation(MakeCollection(1));
    EXPECT_EQ(0u, Read(reader, Write(written)));
    EXPECT_EQ(animation.Get(), reader.GetAnimation().Get());
    EXPECT_EQ(trafo(8.0f), reader.GetLastSuccessfulCorrelationTrafo());
    EXPECT_EQ(1u, reader.GetNumEnqueuedAreaCorrelationTasks());
    EXPECT_TRUE(reader.ResetAttribute());
    EXPECT_FALSE(reader.GetAnimation());
    EXPECT_EQ(0u, reader.GetNumEnqueuedAreaCorrelationTasks());
}

// InitFromAreaNode on nodes of the node manager.
class KaCImageAreaDataAttributeOnNodes : public TreeTestSupport::TreeFixture {};

TEST_F(KaCImageAreaDataAttributeOnNodes, InitFromAreaNodeResetsAndTakesTheSubtreeRevisions) {
    ImageArea attribute;
    ASSERT_EQ(0u, Read(attribute, record(3, c_stored)));
    attribute.InitFromAreaNode(nullptr);
    EXPECT_EQ(Write(ImageArea()), Write(attribute));

    TreeTestSupport::Inner area = m_manager.CreateInnerNode();
    TreeTestSupport::Leaf leaf = m_manager.CreateLeafNode(TreeTestSupport::MakeModel(3));
    m_manager.AppendChild(area, leaf, true);
    ASSERT_EQ(0u, Read(attribute, record(3, c_stored)));
    attribute.InitFromAreaNode(area);
    const int64_t state = area->GetNodeRevisionSubtree(0xFFFFFFFFu);
    EXPECT_GE(state, leaf->GetNodeRevision(0xFFFFFFFFu));
    EXPECT_EQ(state, attribute.GetLastNodeRevisionState());
    EXPECT_EQ(state, attribute.GetLastAreaCorrelationRevision());
    EXPECT_EQ(state, attribute.GetLastRefAreaCorrelationRevision());
    EXPECT_EQ(leaf->GetNodeRevision(KaCTransformationNode::eRevisionModel),
              attribute.GetLastNodeRevisionData());
    EXPECT_EQ(-1, attribute.GetLastGUIDRevisionData());  // reset first
}
