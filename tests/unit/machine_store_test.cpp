// Changes to the simulated machine are transactions: threads of one
// process and other processes (here: a second Machine on the same folder,
// which has a lock file descriptor and a state of its own) never lose one
// another's changes, nested edits join the outer one, and a failed edit
// leaves nothing behind.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "SimMachineFixture.h"
#include "platform/sim/SimProducts.h"
#include "platform/sim/SimRegistry.h"
#include "platform/sim/SimServices.h"
#include "platform/sim/Utf8.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 12;

std::wstring ProductCode(int thread, int round) {
    wchar_t code[40];
    std::swprintf(code, 40, L"{%08X-0000-4000-8000-%012X}", thread, round);
    return code;
}

std::wstring Name(const wchar_t* what, int thread, int round) {
    return what + std::to_wstring(thread) + L"-" + std::to_wstring(round);
}

std::wstring LoadKey(int thread) { return L"HKLM\\SOFTWARE\\Load\\T" + std::to_wstring(thread); }

class MachineStoreTest : public SimMachineTest {
protected:
    // A second view of the machine, as another process has it.
    std::shared_ptr<sim::Machine> OtherProcess() { return sim::Machine::Open(folder_); }

    size_t SectionSize(const sim::Machine& machine, const std::string& key) {
        return machine.ReadSection(key, [](const nlohmann::json& section) { return section.size(); });
    }
};

TEST_F(MachineStoreTest, ConcurrentEditsOfEverySectionLoseNothing) {
    std::shared_ptr<sim::Machine> other = OtherProcess();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        // Half the threads act through the other process's machine.
        sim::Machine& machine = t % 2 == 0 ? *machine_ : *other;
        threads.emplace_back([&machine, t] {
            for (int r = 0; r < kRounds; ++r) {
                sim::SetRegistryString(machine, LoadKey(t), Name(L"V", t, r), L"x");
                sim::InstalledProduct product;
                product.productCode = ProductCode(t, r);
                product.properties[L"ProductName"] = Name(L"P", t, r);
                sim::RegisterProduct(machine, product);
                sim::ServiceEntry service;
                service.name = Name(L"S", t, r);
                sim::AddService(machine, service);
                machine.SetMeta(L"C:\\Load\\" + Name(L"F", t, r), sim::FileMeta{platform::kAttrHidden, {}});
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    const size_t expected = kThreads * kRounds;
    for (const auto& machine : {machine_, other, OtherProcess()}) {
        EXPECT_EQ(sim::ListProducts(*machine).size(), expected);
        EXPECT_EQ(sim::ListServices(*machine).size(), expected);
        EXPECT_EQ(machine->Snapshot().files.size(), expected);
        size_t values = 0;
        for (int t = 0; t < kThreads; ++t) {
            machine->ReadSection("registry", [&](const nlohmann::json& keys) {
                values += keys.at(sim::ToUtf8(LoadKey(t))).size();
            });
        }
        EXPECT_EQ(values, expected);
    }
}

TEST_F(MachineStoreTest, ReadChangeWriteOfOneValueCountsEveryIncrement) {
    // Each increment reads the counter and writes it back in one edit; any
    // edit applied to a stale copy would lose increments.
    std::shared_ptr<sim::Machine> other = OtherProcess();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        sim::Machine& machine = t % 2 == 0 ? *machine_ : *other;
        threads.emplace_back([&machine] {
            for (int r = 0; r < 25; ++r) {
                machine.EditSection("counter",
                                    [](nlohmann::json& count) { count = count.is_null() ? 1 : count.get<int>() + 1; });
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(OtherProcess()->Section("counter"), 100);
}

TEST_F(MachineStoreTest, AnotherProcessSeesEachChangeAtItsNextRead) {
    std::shared_ptr<sim::Machine> other = OtherProcess();
    sim::SetRegistryString(*machine_, L"HKLM\\SOFTWARE\\A", L"v", L"1");
    EXPECT_EQ(other->Section("registry").at("HKLM\\SOFTWARE\\A").at("v"), "1");
    // The other process changes what it has just seen; both changes stay.
    other->Edit([](sim::MachineState& state) { state.codePages.oem = 850; });
    sim::SetRegistryString(*other, L"HKLM\\SOFTWARE\\B", L"v", L"2");
    EXPECT_EQ(machine_->Snapshot().codePages.oem, 850u);
    EXPECT_EQ(SectionSize(*machine_, "registry"), 2u);
    machine_->SetMeta(L"C:\\x.txt", sim::FileMeta{platform::kAttrReadOnly, {}});
    EXPECT_EQ(other->Meta(L"c:\\X.TXT").attributes, uint32_t{platform::kAttrReadOnly});
}

TEST_F(MachineStoreTest, NestedEditsJoinTheOuterTransaction) {
    std::shared_ptr<sim::Machine> other = OtherProcess();
    machine_->EditSection("registry", [&](nlohmann::json& keys) {
        machine_->Edit([](sim::MachineState& state) { state.codePages.oem = 850; });
        sim::SetRegistryString(*machine_, L"HKLM\\SOFTWARE\\Inner", L"v", L"1");
        // Inside the transaction its changes are visible to itself only.
        // (The other store has read nothing new since, so it answers
        // without waiting for the lock this transaction holds.)
        EXPECT_EQ(machine_->Snapshot().codePages.oem, 850u);
        EXPECT_EQ(other->Snapshot().codePages.oem, 437u);
        EXPECT_TRUE(other->Section("registry").is_null());
        keys["HKLM\\SOFTWARE\\Outer"] = nlohmann::json::object();
    });
    EXPECT_EQ(other->Snapshot().codePages.oem, 850u);
    EXPECT_EQ(SectionSize(*other, "registry"), 2u);
}

TEST_F(MachineStoreTest, ChangeInsideAReadIsRefused) {
    machine_->Read([&](const sim::MachineState&) {
        EXPECT_THROW(machine_->Edit([](sim::MachineState& state) { state.processId = 1; }), std::logic_error);
        EXPECT_THROW(sim::SetRegistryString(*machine_, L"HKLM\\SOFTWARE\\X", L"v", L"1"), std::logic_error);
    });
    // Reads nest, and the machine is usable afterwards.
    EXPECT_TRUE(machine_->Read([&](const sim::MachineState&) { return machine_->HasDrive(L'C'); }));
    machine_->Edit([](sim::MachineState& state) { state.processId = 1; });
    EXPECT_EQ(OtherProcess()->Snapshot().processId, 1u);
}

TEST_F(MachineStoreTest, FailedEditIsDiscardedWhole) {
    EXPECT_THROW(machine_->Edit([](sim::MachineState& state) {
        state.codePages.oem = 850;
        throw std::runtime_error("stop");
    }),
                 std::runtime_error);
    EXPECT_EQ(machine_->Snapshot().codePages.oem, 437u);

    // An inner edit that fails spoils the outer one even if the outer
    // callback carries on: none of it is written.
    EXPECT_THROW(machine_->EditSection("outer", [&](nlohmann::json& section) {
        section = 1;
        try {
            machine_->Edit([](sim::MachineState& state) {
                state.codePages.oem = 850;
                throw std::runtime_error("inner");
            });
        } catch (const std::runtime_error&) {
        }
    }),
                 std::runtime_error);
    EXPECT_TRUE(machine_->Section("outer").is_null());
    EXPECT_EQ(machine_->Snapshot().codePages.oem, 437u);
    EXPECT_TRUE(OtherProcess()->Section("outer").is_null());
}

TEST_F(MachineStoreTest, EditThatChangesNothingWritesNothing) {
    const std::string path = folder_ + "/machine.json";
    std::filesystem::remove(path);
    machine_->EditSection("registry", [](nlohmann::json&, bool&) {});
    machine_->ForgetMeta(L"C:\\Nothing\\Recorded");
    machine_->SetMeta(L"C:\\Nothing\\Recorded", sim::FileMeta{});
    EXPECT_FALSE(std::filesystem::exists(path));
    machine_->SetMeta(L"C:\\Something", sim::FileMeta{platform::kAttrHidden, {}});
    EXPECT_TRUE(std::filesystem::exists(path));
}

}  // namespace
