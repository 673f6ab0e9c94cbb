// The OS-free UTF-8 codec at its edges: malformed bytes, surrogates under
// both readings, four-byte sequences and round trips. Its callers depend on
// these answers: the simulated machine's host names and CP_UTF8, and the
// library companion's file contents and paths.
#include <gtest/gtest.h>

#include <string>

#include "base/Utf8.h"
#include "platform/sim/Utf8.h"

namespace {

using base::Surrogates;
using base::Utf8ToWide;
using base::WideToUtf8;

const std::string kReplacementUtf8 = "\xEF\xBF\xBD";

TEST(BaseUtf8, RoundTripsEveryLength) {
    const std::wstring text = L"a\u00E9\u4E2D\U0001F600z";  // 1, 2, 3 and 4 bytes
    const std::string utf8 = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";
    EXPECT_EQ(WideToUtf8(text, Surrogates::Pair), utf8);
    EXPECT_EQ(Utf8ToWide(utf8), text);
    const std::wstring edges = L"\U0010FFFF\u07FF\u0800\uFFFF\U00010000";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(edges, Surrogates::Pair)), edges);
    EXPECT_EQ(WideToUtf8(L"", Surrogates::Pair), "");
    EXPECT_EQ(Utf8ToWide(""), L"");
    // An embedded NUL is a character like any other.
    EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(BaseUtf8, MalformedBytesGiveOneReplacementEachAndDecodingGoesOn) {
    EXPECT_EQ(Utf8ToWide("\x80"), L"\uFFFD");  // a continuation byte alone
    EXPECT_EQ(Utf8ToWide("a\xFF"
                         "b"),
              L"a\uFFFDb");                                                            // a byte that starts nothing
    EXPECT_EQ(Utf8ToWide("\xF8\x88\x80\x80\x80"), L"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");  // five-byte forms are gone
    EXPECT_EQ(Utf8ToWide("\xE4\xB8"), L"\uFFFD\uFFFD");                                // cut short at the end
    EXPECT_EQ(Utf8ToWide("\xE4"
                         "A\xAD"),
              L"\uFFFDA\uFFFD");  // broken by an ASCII byte
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98"), L"\uFFFD\uFFFD\uFFFD");
}

TEST(BaseUtf8, DecoderIsLenientPastStructure) {
    // Overlong forms and encoded surrogates give the value they spell: the
    // simulated machine has always read host names that way.
    EXPECT_EQ(Utf8ToWide("\xC0\x80"), std::wstring(1, L'\0'));
    EXPECT_EQ(Utf8ToWide("\xE0\x81\x81"), L"A");
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), std::wstring(1, static_cast<wchar_t>(0xD800)));
}

TEST(BaseUtf8, SurrogatesUnderBothReadings) {
    const std::wstring pair{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    // UTF-16 reading (the companion): a pair is one character.
    EXPECT_EQ(WideToUtf8(pair, Surrogates::Pair), "\xF0\x9F\x98\x80");
    // Code-point reading (the simulated machine): each unit is refused.
    EXPECT_EQ(WideToUtf8(pair, Surrogates::Replace), kReplacementUtf8 + kReplacementUtf8);

    const std::wstring loneHigh = std::wstring(L"a") + static_cast<wchar_t>(0xD800);
    const std::wstring loneLow = std::wstring(1, static_cast<wchar_t>(0xDC00)) + L"b";
    const std::wstring reversed{static_cast<wchar_t>(0xDE00), static_cast<wchar_t>(0xD83D)};
    for (const Surrogates policy : {Surrogates::Pair, Surrogates::Replace}) {
        EXPECT_EQ(WideToUtf8(loneHigh, policy), "a" + kReplacementUtf8);
        EXPECT_EQ(WideToUtf8(loneLow, policy), kReplacementUtf8 + "b");
        EXPECT_EQ(WideToUtf8(reversed, policy), kReplacementUtf8 + kReplacementUtf8);
    }
}

TEST(BaseUtf8, ValuesBeyondUnicodeBecomeReplacement) {
    if (sizeof(wchar_t) < 4) GTEST_SKIP() << "a 16-bit wchar_t holds no such value";
    const std::wstring beyond{static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1)};
    EXPECT_EQ(WideToUtf8(beyond, Surrogates::Pair), kReplacementUtf8 + kReplacementUtf8);
    EXPECT_EQ(WideToUtf8(beyond, Surrogates::Replace), kReplacementUtf8 + kReplacementUtf8);
    // A four-byte form past U+10FFFF decodes to its value, as it always has.
    EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), std::wstring(1, static_cast<wchar_t>(0x110000)));
}

TEST(BaseUtf8, SimulatedMachineReadsEachUnitAsACodePoint) {
    const std::wstring pair{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    EXPECT_EQ(sim::ToUtf8(pair), kReplacementUtf8 + kReplacementUtf8);
    EXPECT_EQ(sim::ToUtf8(L"C:\\Users\\Zo\u00E9\\\U0001F600"), "C:\\Users\\Zo\xC3\xA9\\\xF0\x9F\x98\x80");
    EXPECT_EQ(sim::FromUtf8("Zo\xC3\xA9\x80"), L"Zo\u00E9\uFFFD");
}

}  // namespace
