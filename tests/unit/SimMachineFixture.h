// A fresh default machine in a temporary folder for each test, made the one
// platform::Os() acts on.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "ScratchFolder.h"
#include "common/TextHelpers.h"
#include "common/Singleton.h"
#include "logging/Log.h"
#include "platform/Platform.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/Sanitizer.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/Utf8.h"

class SimMachineTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine_ = sim::Machine::Open(folder_);
        sim::UseMachine(machine_);
        // Each case starts from a library that has not been used yet.
        LibraryShutdown(platform::Os().Process());
    }

    void TearDown() override {
        // Workers of this case end on its machine, before it goes.
        LibraryShutdown(platform::Os().Process());
    }

    platform::Platform& Os() { return platform::Os(); }

    // The host file behind a Windows path of the machine.
    std::string Host(const std::wstring& winPath) {
        std::string host;
        EXPECT_TRUE(machine_->Resolve(winPath, host)) << "unresolvable path";
        return host;
    }

    // Creates the file, and the folders above it, with `size` bytes.
    void WriteFile(const std::wstring& winPath, size_t size) {
        const std::string host = Host(winPath);
        std::filesystem::create_directories(std::filesystem::path(host).parent_path());
        std::ofstream out(host, std::ios::binary | std::ios::trunc);
        out << std::string(size, 'x');
        ASSERT_TRUE(out.good()) << host;
    }

    // Marks an existing folder as a cloud placeholder: a reparse point that
    // is no link, its files where it stands.
    void MarkCloudFolder(const std::wstring& winPath) {
        sim::FileMeta meta = machine_->Meta(winPath);
        meta.reparseTag = platform::kReparseTagCloudFiles;
        machine_->SetMeta(winPath, meta);
    }

    // A folder link (a junction, as Windows sees it) to `target`, made with
    // the folders both need.
    void Link(const std::wstring& link, const std::wstring& target) {
        std::filesystem::create_directories(Host(target));
        std::filesystem::create_directories(std::filesystem::path(Host(link)).parent_path());
        std::filesystem::create_directory_symlink(Host(target), Host(link));
    }

    // Every entry of the machine's drive C, folded; links not followed.
    std::set<std::wstring> Tree() {
        std::set<std::wstring> entries;
        const std::filesystem::path root = Host(L"C:\\");
        for (auto it = std::filesystem::recursive_directory_iterator(root);
             it != std::filesystem::recursive_directory_iterator(); ++it) {
            std::wstring path = L"c:\\" + sim::FromUtf8(it->path().lexically_relative(root).string());
            std::replace(path.begin(), path.end(), L'/', L'\\');
            entries.insert(AsciiLower(path));
        }
        return entries;
    }

    // The whole content of a file of the machine; empty when it is missing.
    std::string ReadHostFile(const std::wstring& winPath) {
        std::ifstream in(Host(winPath), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // How the installer log was last enabled; empty fields when it was not.
    sim::MsiLogSetting MsiLog() {
        return machine_->Read([](const sim::MachineState& s) { return s.msiLog.value_or(sim::MsiLogSetting{}); });
    }

    ScratchFolder scratch_{"brisalen-sim"};
    const std::string& folder_ = scratch_.Path();
    std::shared_ptr<sim::Machine> machine_;
};

// A machine whose library log starts unconfigured and, unless a test says
// otherwise, is set up as the library's load entry does.
class LoggedMachineTest : public SimMachineTest {
protected:
    explicit LoggedMachineTest(bool setUpAtLoad = true) : setUpAtLoad_(setUpAtLoad) {}
    void SetUp() override {
        SimMachineTest::SetUp();
        logging::ResetForTesting();
        if (setUpAtLoad_) logging::SetupAtLoad();
    }
    void TearDown() override {
        logging::ResetForTesting();
        SimMachineTest::TearDown();
    }
    std::string LoadTimeLog() { return ReadHostFile(L"C:\\Tarnwick\\Log\\Tarnwick.log"); }

private:
    const bool setUpAtLoad_;
};
