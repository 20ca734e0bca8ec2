#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "platform/harbor/CbCheckReturn.h"
#include "platform/harbor/CbFormat.h"
#include "platform/harbor/Condition.h"
#include "platform/harbor/Debugging.h"

namespace {

CbCheckReturn<bool> check(bool value) {
    return value;
}

TEST(CbCheckReturn, ReportsOnlyResultsNobodyExamined) {
    int reports = 0;
    bool allAsserts = true;
    Condition::Handler previous =
        Condition::SetHandler([&](const char*, int, const char*, Condition::EHandling handling) {
            ++reports;
            allAsserts = allAsserts && handling == Condition::eAssert;
        });

    struct Scenario {
        const char* name;
        std::function<void()> run;
        int reports;
    };
    const Scenario scenarios[] = {
        {"discarded", [] { static_cast<void>(check(true)); }, 1},
        {"held but never read", [] { CbCheckReturn<bool> result = check(true); }, 1},
        {"converted",
         [] {
             bool value = check(false);
             EXPECT_FALSE(value);
         },
         0},
        {"tested in a condition",
         [] {
             if (check(true)) {
                 return;
             }
         },
         0},
        {"read with Get", [] { EXPECT_TRUE(check(true).Get()); }, 0},
        {"deliberately ignored", [] { check(false).MarkExamined(); }, 0},
        {"copied, copy examined",
         [] {
             CbCheckReturn<bool> result = check(true);
             CbCheckReturn<bool> copy = result;
             bool value = copy;
             EXPECT_TRUE(value);
         },
         0},
        {"copied, only the original examined",
         [] {
             CbCheckReturn<bool> result = check(true);
             CbCheckReturn<bool> copy = result;
             bool value = result;
             EXPECT_TRUE(value);
         },
         1},
        {"assigned over an unexamined result",
         [] {
             CbCheckReturn<bool> first = check(true);
             CbCheckReturn<bool> second = check(false);
             first = second;
             bool value = first;
             EXPECT_FALSE(value);
         },
         1},
    };
    for (const Scenario& s : scenarios) {
        reports = 0;
        s.run();
        EXPECT_EQ(reports, s.reports) << s.name;
    }
    EXPECT_TRUE(allAsserts);
    Condition::SetHandler(previous);
}

TEST(CbFormatW, WideFormatsReadTheirArgumentsAsTheProjectWritesThem) {
    const std::wstring longText(1000, L'x');
    struct Case {
        std::wstring actual;
        std::wstring expected;
    };
    const Case cases[] = {
        {CbFormatW(L"%s", L"Z\u00e4hne \U0001F9B7"), L"Z\u00e4hne \U0001F9B7"},
        {CbFormatW(L"[%-30s]", L"\u00e4b"), L"[\u00e4b" + std::wstring(28, L' ') + L"]"},
        {CbFormatW(L"[%5s|%.2s]", L"ab", L"xyz"), L"[   ab|xy]"},
        {CbFormatW(L"%S", "narrow"), L"narrow"},
        {CbFormatW(L"%S",
                   "Gr\xC3\xBC\xC3\x9F"
                   "e"),
         L"Gr\u00fc\u00dfe"},  // narrow text is UTF-8
        {CbFormatW(L"%ls", L"explicit"), L"explicit"},
        {CbFormatW(L"%c%c", L'\u00df', L'!'), L"\u00df!"},
        {CbFormatW(L"%d|%5d|%-3d|", -42, 7, 1), L"-42|    7|1  |"},
        {CbFormatW(L"%X %x %08X", 0xBEEFu, 255u, 0x1Fu), L"BEEF ff 0000001F"},
        {CbFormatW(L"100%% of %s", L"it"), L"100% of it"},
        {CbFormatW(L"%f %.2f %g", 1.5, 3.14159, 0.25), L"1.500000 3.14 0.25"},
        {CbFormatW(L"%s: node %d of %S", L"Tree", 3, "leaf"), L"Tree: node 3 of leaf"},
        {CbFormatW(L"%s%s", longText.c_str(), L"!"), longText + L"!"},  // beyond the first buffer
        {CbFormatW(L"no conversions"), L"no conversions"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.actual, c.expected);
    }
}

TEST(Debugging, GetCallStackAppendsTheCallersFrames) {
    std::wstring text = L"context\n";
    Debugging::GetCallStack(text, 8);
    ASSERT_EQ(text.rfind(L"context\n  #1 ", 0), 0u) << text;
    long lines = std::count(text.begin(), text.end(), L'\n');
    EXPECT_GE(lines, 1);
    EXPECT_LE(lines, 8);

    // One frame: the caller, which lives in this test program.
    std::wstring one;
    Debugging::GetCallStack(one, 1);
    EXPECT_EQ(one.rfind(L"  #1 ", 0), 0u) << one;
    EXPECT_EQ(one.find(L'\n'), std::wstring::npos) << one;
    EXPECT_NE(one.find(L"harbor_tests"), std::wstring::npos) << one;

    std::wstring none = L"unchanged";
    Debugging::GetCallStack(none, 0);
    EXPECT_EQ(none, L"unchanged");
}

}  // namespace
