// Text helpers at their edges: splitting, digit-only parsing, percent
// decoding, code pages of the machine and formatting of any length.
#include <climits>
#include <string>
#include <vector>

#include "SimMachineFixture.h"
#include "common/TextHelpers.h"

namespace {

using Pieces = std::vector<std::wstring>;

TEST(TextHelpers, SplitKeepsEmptyPieces) {
    EXPECT_EQ(SplitString(L"a;;b;", L';'), (Pieces{L"a", L"", L"b", L""}));
    EXPECT_EQ(SplitString(L"File|Long name", L'|'), (Pieces{L"File", L"Long name"}));
    EXPECT_EQ(SplitString(L"whole", L';'), Pieces{L"whole"});
    EXPECT_EQ(SplitString(L"", L';'), Pieces{L""});
}

TEST(TextHelpers, OnlyPlainDigitsAreNumbers) {
    EXPECT_EQ(StringToInt(L"12a"), 0);
    EXPECT_EQ(StringToInt(L""), 0);
    EXPECT_EQ(StringToInt(L"0042"), 42);
    EXPECT_EQ(StringToInt(L"-5"), 0);
    EXPECT_EQ(StringToInt(L" 7"), 0);
    EXPECT_EQ(StringToInt(L"99999999999"), INT_MAX);
    EXPECT_FALSE(IsAllDigits(L""));
    EXPECT_FALSE(IsAllDigits(L"\x0663"));  // an Arabic-Indic digit is not one _wtoi reads
}

TEST(TextHelpers, UrlDecodeTakesBothCasesAndKeepsMalformedEscapes) {
    EXPECT_EQ(HexDigitValue('f'), 15);
    EXPECT_EQ(HexDigitValue('F'), 15);
    EXPECT_EQ(HexDigitValue('g'), -1);
    EXPECT_EQ(UrlDecode("My%20Music/%e4%B8%ad.mp3"), "My Music/\xE4\xB8\xAD.mp3");
    EXPECT_EQ(UrlDecode("100%%41"), "100%A");
    EXPECT_EQ(UrlDecode("%zz%4"), "%zz%4");
    EXPECT_EQ(UrlDecode("%00x"), std::string("\0x", 2));
}

TEST(TextHelpers, FormatStringAnyLengthAndNeverThrows) {
    const std::wstring folder(3000, L'd');
    EXPECT_EQ(FormatString(L"%s\\%s %d", folder, L"iTunes.exe", 7), folder + L"\\iTunes.exe 7");
    EXPECT_EQ(FormatString(nullptr), L"");
    EXPECT_EQ(FormatString(L"%d %d", 1), L"");  // missing argument
}

using CodePageTest = SimMachineTest;

TEST_F(CodePageTest, ConversionsUseTheMachinesPages) {
    EXPECT_EQ(Utf8ToWide(platform::Os().CodePages(), "\xE4\xB8\xAD"), L"\x4E2D");
    EXPECT_EQ(AnsiToWide(platform::Os().CodePages(), "\xE9"), L"\xE9");   // 1252
    EXPECT_EQ(WideToNarrow(platform::Os().CodePages(), L"\x4E2D"), "?");  // 437 has no CJK
    machine_->Edit([](sim::MachineState& s) { return s.codePages.oem = 936; });
    EXPECT_EQ(WideToNarrow(platform::Os().CodePages(), L"\x4E2D"), "\xD6\xD0");
}

}  // namespace
