#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "SimMachineFixture.h"
#include "logging/Log.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool HostFileExists(const std::string& path) { return std::ifstream(path).good(); }

class LoggingTest : public LoggedMachineTest {
protected:
    LoggingTest() : LoggedMachineTest(false) {}

    template <typename... Args>
    void Log(int level, const wchar_t* format, const Args&... args) {
        logging::LogW(L"LoggingTest::Log", L"C:\\src\\Brisalen\\logging_test.cpp", 77, level, format, args...);
    }
};

TEST_F(LoggingTest, LinesCarryTheDateTimeAndTheFormattedMessage) {
    logging::SetupAtLoad();
    Log(1, L"%s has %d files", std::wstring(L"iTunes"), 42);
    Log(1, L"");
    const std::string text = LoadTimeLog();
    EXPECT_TRUE(std::regex_match(
        text, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{3} iTunes has 42 files\n)")))
        << text;
}

TEST_F(LoggingTest, MessageEndingInLineEndLeavesAnEmptyLine) {
    logging::SetupAtLoad();
    Log(1, L"first\n");
    Log(1, L"second");
    const std::string text = LoadTimeLog();
    EXPECT_NE(text.find(" first\n\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" second\n"), std::string::npos) << text;
}

TEST_F(LoggingTest, OnlyTheFourKnownLevelsWrite) {
    logging::SetupAtLoad();
    for (int level = -1; level <= 4; ++level) Log(level, L"level %d", level);
    const std::string text = LoadTimeLog();
    for (int level = 0; level <= 3; ++level) {
        EXPECT_NE(text.find("level " + std::to_string(level) + "\n"), std::string::npos) << level;
    }
    EXPECT_EQ(text.find("level -1"), std::string::npos);
    EXPECT_EQ(text.find("level 4"), std::string::npos);
}

TEST_F(LoggingTest, WideTextIsWrittenInTheOemCodePage) {
    logging::SetupAtLoad();
    Log(1, L"修复失败! caf\u00e9");
    logging::LogA("f", "x.cpp", 1, 1, "narrow %s", "\xc3\xa9");
    const std::string text = LoadTimeLog();
    // Code page 437 has no Chinese characters but does have e-acute (0x82).
    EXPECT_NE(text.find(" ????" "! caf\x82\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" narrow \xc3\xa9\n"), std::string::npos) << text;
}

TEST_F(LoggingTest, CallBeforeSetupLandsInTheDefaultFileAndLoadSetupKeepsIt) {
    Log(1, L"early");
    logging::SetupAtLoad();
    Log(1, L"late");
    const std::string text = ReadAll(Host(L"C:\\Tarnwick\\Log\\Brisalen.log"));
    EXPECT_NE(text.find(" early\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" late\n"), std::string::npos) << text;
    EXPECT_FALSE(HostFileExists(Host(L"C:\\Tarnwick\\Log\\Tarnwick.log")));
}

TEST_F(LoggingTest, LoadSetupTurnsOnTheInstallerLogOnce) {
    logging::SetupAtLoad();
    const auto log = MsiLog();
    EXPECT_EQ(log.path, L"C:\\Tarnwick\\msi.log");
    EXPECT_EQ(log.mode, 3u);
    EXPECT_EQ(log.attributes, 0u);
}

TEST_F(LoggingTest, MessageOverOneMebibyteIsWrittenWholeThenTheFileRolls) {
    logging::SetupAtLoad();
    Log(1, L"before");
    const std::wstring big(1100000, L'x');
    Log(1, L"%s", big);
    Log(1, L"after");
    const std::string backup = ReadAll(Host(L"C:\\Tarnwick\\Log\\Tarnwick.log.1"));
    EXPECT_NE(backup.find(" before\n"), std::string::npos);
    EXPECT_NE(backup.find(" " + std::string(big.size(), 'x') + "\n"), std::string::npos);
    const std::string current = LoadTimeLog();
    EXPECT_EQ(current.find('x'), std::string::npos);
    EXPECT_NE(current.find(" after\n"), std::string::npos) << current.size();
}

// A line is the 23-character time stamp, a blank, the message and "\n".
constexpr size_t kLineOverhead = 25;

TEST_F(LoggingTest, FileRollsOnReachingOneMebibyteNotBefore) {
    logging::SetupAtLoad();
    const std::string backup = Host(L"C:\\Tarnwick\\Log\\Tarnwick.log.1");
    // Past a decimal megabyte, still short of a binary one: no roll.
    Log(1, L"%s", std::wstring(1040000 - kLineOverhead, L'a'));
    ASSERT_EQ(LoadTimeLog().size(), 1040000u);
    EXPECT_FALSE(HostFileExists(backup));
    // Exactly at 1,048,576 bytes the file rolls.
    Log(1, L"%s", std::wstring(1048576 - 1040000 - kLineOverhead, L'b'));
    EXPECT_EQ(ReadAll(backup).size(), 1048576u);
    EXPECT_EQ(LoadTimeLog().find('b'), std::string::npos);
}

TEST_F(LoggingTest, FormatFailureWritesTheDecoratedFatalLine) {
    logging::SetupAtLoad();
    Log(1, L"broken %y spec");
    logging::LogA("NarrowCaller::Run", "/src/common/narrow.cpp", 12, 1, "%d%", 5);
    const std::string text = LoadTimeLog();
    EXPECT_NE(text.find(" [logging_test.cpp:77][LoggingTest::Log] ***Fatal Error Check,Please Fix it!***\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(" [narrow.cpp:12][NarrowCaller::Run] ***Fatal Error Check,Please Fix it!***\n"),
              std::string::npos)
        << text;
}

TEST_F(LoggingTest, InvalidStringPointerIsCaughtAndTheCallerGoesOn) {
    if (sim::RunningUnderSanitizer()) GTEST_SKIP() << "the sanitizer reports the bad read itself";
    logging::SetupAtLoad();
    Log(1, L"%s", reinterpret_cast<const wchar_t*>(0x10));
    Log(1, L"still here");
    const std::string text = LoadTimeLog();
    EXPECT_NE(text.find("[logging_test.cpp:77][LoggingTest::Log] ***Fatal Error Check,Please Fix it!***"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(" still here\n"), std::string::npos);
}

TEST_F(LoggingTest, UncreatableLogFolderIsSilent) {
    logging::Setup(L"x.log", L"Q:\\no drive\\Log");
    Log(1, L"nowhere to go");
    EXPECT_FALSE(HostFileExists(Host(L"C:\\Tarnwick\\Log\\Brisalen.log")));
}

TEST(QualifiedFunctionName, StripsReturnTypeAndParameters) {
    EXPECT_EQ(logging::QualifiedFunctionName("virtual bool CFixItunesMgr::OpenItunes()"),
              "CFixItunesMgr::OpenItunes");
    EXPECT_EQ(logging::QualifiedFunctionName("static std::map<int, std::wstring> A::B::Get(int, char)"),
              "A::B::Get");
    EXPECT_EQ(logging::QualifiedFunctionName("bool Foo::operator()(int)"), "Foo::operator()");
    EXPECT_EQ(logging::QualifiedFunctionName("void Free()"), "Free");
}

}  // namespace
