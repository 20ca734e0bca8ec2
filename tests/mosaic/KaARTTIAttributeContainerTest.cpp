#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/mosaic/KaARTTIAttributeContainer.h"
#include "platform/mosaic/KaCUnknownAttribute.h"

namespace {

// A cloneable attribute holding one number; ResetAttribute sets it back to 0.
class CountAttribute : public KaARTTIAttribute {
    CB_DECLARE_RTTI()

public:
    explicit CountAttribute(int32_t value = 0) : m_value(value) {}
    int32_t m_value;
    void Serialize(CbStreamWriteBinary& stream) const override {
        stream.WriteVersion(1);
        stream.WriteInt32(m_value);
    }
    void Serialize(CbStreamReadBinary& stream) override {
        stream.ReadVersion(1);
        m_value = stream.ReadInt32();
    }
    bool ResetAttribute() override {
        m_value = 0;
        return true;
    }

private:
    static IObject* create() { return new CountAttribute(); }
    static IObject* clone(const IObject& other) {
        return new CountAttribute(dynamic_cast<const CountAttribute&>(other));
    }
};
CB_DEFINE_RTTI(CountAttribute, nullptr, &CountAttribute::create, &CountAttribute::clone)

// An attribute without clone function whose record is a wide string.
class NoteAttribute : public KaARTTIAttribute {
    CB_DECLARE_RTTI()

public:
    std::wstring m_text;
    void Serialize(CbStreamWriteBinary& stream) const override { stream.WriteWideString(m_text); }
    void Serialize(CbStreamReadBinary& stream) override { m_text = stream.ReadWideString(); }

private:
    static IObject* create() { return new NoteAttribute(); }
};
CB_DEFINE_RTTI(NoteAttribute, nullptr, &NoteAttribute::create, nullptr)

CbSmartPointer<KaARTTIAttribute> count(int32_t value) {
    return CbMakeShared<CountAttribute>(value);
}

CbSmartPointer<NoteAttribute> note(const std::wstring& text) {
    auto attribute = CbMakeShared<NoteAttribute>();
    attribute->m_text = text;
    return attribute;
}

std::vector<uint8_t> write(const KaARTTIAttributeContainer& container) {
    CbStreamWriteBinaryBuffer stream;
    container.Serialize(stream);
    return stream.GetBuffer();
}

}  // namespace

TEST(KaARTTIAttributeContainer, HoldsOneAttributePerTypeAndCopiesByClone) {
    KaARTTIAttributeContainer container;
    container.SetAttribute(count(1));
    container.SetAttribute(note(L"a"));
    container.SetAttribute(count(2));
    container.SetAttribute(nullptr);
    ASSERT_EQ(container.GetCount(), 2u);
    EXPECT_EQ(container.GetAttribute<CountAttribute>()->m_value, 2);

    KaARTTIAttributeContainer copy;
    copy.CopyAttributesFrom(container);
    ASSERT_EQ(copy.GetCount(), 2u);
    // A cloneable attribute is copied, one without clone function is shared.
    EXPECT_NE(copy.GetAttribute<CountAttribute>().Get(),
              container.GetAttribute<CountAttribute>().Get());
    EXPECT_EQ(copy.GetAttribute<CountAttribute>()->m_value, 2);
    EXPECT_EQ(copy.GetAttribute<NoteAttribute>().Get(),
              container.GetAttribute<NoteAttribute>().Get());

    KaARTTIAttributeContainer shared;
    shared.SetAttributes(container);
    EXPECT_EQ(shared.GetAttribute<CountAttribute>().Get(),
              container.GetAttribute<CountAttribute>().Get());

    container.ResetAttributes();
    EXPECT_EQ(container.GetAttribute<CountAttribute>()->m_value, 0);
    EXPECT_EQ(copy.GetAttribute<CountAttribute>()->m_value, 2);

    container.DeleteAttributes({&CountAttribute::RTTI});
    EXPECT_FALSE(container.GetAttribute<CountAttribute>());
    EXPECT_EQ(container.GetCount(), 1u);
    container.ClearAttributeContainer();
    EXPECT_EQ(container.GetCount(), 0u);
}

TEST(KaARTTIAttributeContainer, StreamRoundTripKeepsUnknownClassesAsRead) {
    KaARTTIAttributeContainer container;
    container.SetAttribute(note(L"Zahn \u00fc \U0001F9B7"));
    container.SetAttribute(count(-7));
    std::vector<uint8_t> bytes = write(container);

    KaARTTIAttributeContainer read;
    read.SetAttribute(count(99));
    CbStreamReadBinaryBuffer stream(bytes);
    read.Serialize(stream);
    EXPECT_EQ(stream.GetRemaining(), 0u);
    ASSERT_EQ(read.GetCount(), 2u);
    EXPECT_EQ(read.GetAttribute<NoteAttribute>()->m_text, L"Zahn \u00fc \U0001F9B7");
    EXPECT_EQ(read.GetAttribute<CountAttribute>()->m_value, -7);

    // Rename the first record's class to one nobody registered, and write a second record
    // under another unknown name: both are kept, one per name, in their places, the known
    // record still reads, and writing again gives the same bytes.
    std::vector<uint8_t> renamed = bytes;
    const size_t firstNameUnit = 4 + 4 + 4;  // version, count, name length
    renamed[firstNameUnit] = 'X';
    KaARTTIAttributeContainer partial;
    CbStreamReadBinaryBuffer renamedStream(renamed);
    partial.Serialize(renamedStream);
    EXPECT_EQ(renamedStream.GetRemaining(), 0u);
    ASSERT_EQ(partial.GetCount(), 2u);
    EXPECT_EQ(partial.GetAttribute<CountAttribute>()->m_value, -7);
    EXPECT_FALSE(partial.GetAttribute<NoteAttribute>());
    auto unknown = partial.GetAttribute<KaCUnknownAttribute>();
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->GetRecordClassName().front(), L'X');
    EXPECT_EQ(write(partial), renamed);

    partial.SetAttribute(CbSmartPointer<KaARTTIAttribute>(
        new KaCUnknownAttribute(L"Other", std::vector<uint8_t>{1, 2, 3})));
    partial.SetAttribute(CbSmartPointer<KaARTTIAttribute>(
        new KaCUnknownAttribute(unknown->GetRecordClassName(), std::vector<uint8_t>{9})));
    ASSERT_EQ(partial.GetCount(), 3u);  // the second one of the same name replaced the first
    KaARTTIAttributeContainer again;
    const std::vector<uint8_t> twice = write(partial);
    CbStreamReadBinaryBuffer twiceStream(twice);
    again.Serialize(twiceStream);
    EXPECT_EQ(write(again), twice);
    EXPECT_EQ(static_cast<const KaCUnknownAttribute&>(*again.GetAttributes()[0]).GetRecord(),
              std::vector<uint8_t>{9});
}

TEST(KaARTTIAttributeContainer, BadInputLeavesTheContainerAsItWas) {
    KaARTTIAttributeContainer container;
    container.SetAttribute(note(L"kept"));
    container.SetAttribute(count(5));
    std::vector<uint8_t> bytes = write(container);

    KaARTTIAttributeContainer target;
    target.SetAttribute(count(42));

    std::vector<uint8_t> wrongVersion = bytes;
    wrongVersion[0] = 2;
    CbStreamReadBinaryBuffer versionStream(wrongVersion);
    EXPECT_THROW(target.Serialize(versionStream), CbExceptionWrongFileVersion);

    for (size_t length = 0; length < bytes.size(); ++length) {
        CbStreamReadBinaryBuffer truncated(bytes.data(), length);
        EXPECT_THROW(target.Serialize(truncated), CbException) << "length " << length;
    }

    // A record byte count far beyond the stream is refused before anything is allocated.
    std::vector<uint8_t> hugeCount = bytes;
    const size_t firstByteCount = 4 + 4 + 4 + 2 * std::wstring(L"NoteAttribute").size();
    hugeCount[firstByteCount + 3] = 0x7F;
    CbStreamReadBinaryBuffer hugeStream(hugeCount);
    EXPECT_THROW(target.Serialize(hugeStream), CbException);

    ASSERT_EQ(target.GetCount(), 1u);
    EXPECT_EQ(target.GetAttribute<CountAttribute>()->m_value, 42);
}
