#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbMap.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/lattice/CyUniqueID.h"

namespace {

const CyUniqueID::Bytes c_counting = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                      0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

bool isLowercaseTextForm(const std::wstring& text) {
    if (text.size() != 36) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        bool ok =
            hyphen ? text[i] == L'-'
                   : (text[i] >= L'0' && text[i] <= L'9') || (text[i] >= L'a' && text[i] <= L'f');
        if (!ok) {
            return false;
        }
    }
    return true;
}

TEST(CyUniqueID, FreshIDsDifferAndTheirTextFormRoundTrips) {
    std::set<CyUniqueID> seen;
    for (int i = 0; i < 2000; ++i) {
        CyUniqueID id;
        EXPECT_TRUE(id.IsValid());
        EXPECT_TRUE(seen.insert(id).second) << "repeated ID";
        std::wstring text = id.ToString();
        ASSERT_TRUE(isLowercaseTextForm(text)) << text;
        EXPECT_EQ(static_cast<std::wstring>(id), text);
        EXPECT_EQ(CyUniqueID(text), id);
        std::wstring upper = text;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](wchar_t c) { return std::towupper(c); });
        CyUniqueID parsed = CyUniqueID::GetInvalidID();
        EXPECT_TRUE(CyUniqueID::TryParse(upper, parsed)) << upper;
        EXPECT_EQ(parsed, id);
    }

    // Bytes appear in the text in their order.
    EXPECT_EQ(CyUniqueID::FromBytes(c_counting).ToString(),
              L"00112233-4455-6677-8899-aabbccddeeff");
    const CyUniqueID& invalid = CyUniqueID::GetInvalidID();
    EXPECT_EQ(invalid.ToString(), L"00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(CyUniqueID(L"00000000-0000-0000-0000-000000000000"), invalid);
    EXPECT_FALSE(invalid.IsValid());
    EXPECT_EQ(invalid.GetBytes(), CyUniqueID::Bytes{});
}

TEST(CyUniqueID, RejectsTextThatIsNoTextForm) {
    const std::wstring good = L"00112233-4455-6677-8899-aabbccddeeff";
    const std::wstring bad[] = {
        L"",
        L"not an id",
        good.substr(1),
        good + L"0",
        L"{" + good.substr(1, 34) + L"}",
        L"00112233a4455-6677-8899-aabbccddeeff",       // hyphen missing
        L"0011223-34455-6677-8899-aabbccddeeff",       // hyphen misplaced
        L"00112233-4455-6677-8899-aabbccddeefg",       // no hex digit
        L"00112233-4455-6677-8899-aabbccddee\u00e9f",  // not ASCII
        std::wstring(L"00112233-4455-6677-8899-aabbccddee") + wchar_t(0x130) +
            L"f",  // '0' if narrowed
        std::wstring(L"00112233-4455-6677-8899-aabbccddee\0f", 36),
        L" 0112233-4455-6677-8899-aabbccddeeff",
    };
    for (const std::wstring& text : bad) {
        CyUniqueID id;
        EXPECT_FALSE(CyUniqueID::TryParse(text, id)) << text;
        EXPECT_THROW(CyUniqueID{text}, CbException) << text;
    }
}

TEST(CyUniqueID, OrderAndHashAgreeWithEquality) {
    std::vector<CyUniqueID> ids(200);
    ids.push_back(CyUniqueID::GetInvalidID());
    CyUniqueID::Bytes close = c_counting;
    ids.push_back(CyUniqueID::FromBytes(close));
    close[15] ^= 1;
    ids.push_back(CyUniqueID::FromBytes(close));
    close[0] ^= 0x80;
    ids.push_back(CyUniqueID::FromBytes(close));

    for (const CyUniqueID& a : ids) {
        for (const CyUniqueID& b : ids) {
            bool equal = a == b;
            EXPECT_EQ(equal, !(a < b) && !(b < a));
            EXPECT_EQ(equal, !(a != b));
            EXPECT_FALSE(a < b && b < a);
        }
        CyUniqueID copy(a.ToString());
        EXPECT_EQ(copy.Hash(), a.Hash());
        EXPECT_EQ(CbHashKey<CyUniqueID>::Compute(copy), CbHashKey<CyUniqueID>::Compute(a));
        EXPECT_EQ(std::hash<CyUniqueID>()(copy), std::hash<CyUniqueID>()(a));
    }

    // The node map use: every ID finds its own entry through an equal copy.
    CbMap<CyUniqueID, int> map;
    for (size_t i = 0; i < ids.size(); ++i) {
        map[ids[i]] = static_cast<int>(i);
    }
    ASSERT_EQ(map.GetCount(), ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        const int* found = map.Find(CyUniqueID(ids[i].ToString()));
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(*found, static_cast<int>(i));
    }
}

TEST(CyUniqueID, StreamFormIsItsSixteenBytes) {
    CyUniqueID id = CyUniqueID::FromBytes(c_counting);
    CbStreamWriteBinaryBuffer out;
    id.Serialize(out);
    EXPECT_EQ(out.GetBuffer(), std::vector<uint8_t>(c_counting.begin(), c_counting.end()));

    CyUniqueID fresh;
    CbStreamWriteBinaryBuffer freshOut;
    fresh.Serialize(freshOut);
    CbStreamReadBinaryBuffer in(freshOut.GetData(), freshOut.GetCount());
    CyUniqueID back = CyUniqueID::GetInvalidID();
    back.Serialize(in);
    EXPECT_EQ(back, fresh);
    EXPECT_EQ(in.GetRemaining(), 0u);

    for (size_t length = 0; length < 16; ++length) {
        CbStreamReadBinaryBuffer truncated(out.GetData(), length);
        CyUniqueID target;
        EXPECT_THROW(target.Serialize(truncated), CbException) << "cut to " << length;
    }
}

}  // namespace
