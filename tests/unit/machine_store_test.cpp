// Changes to the simulated machine are transactions: threads of one
// process and other processes (here: a second Machine on the same folder,
// which has a lock file descriptor and a state of its own) never lose one
// another's changes, whichever sections they touch, nested edits join the
// outer one, and a failed edit leaves nothing behind.
#include <algorithm>
#include <cstdio>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "SimMachineFixture.h"
#include "platform/sim/installer/SimProducts.h"
#include "platform/sim/registry/SimRegistry.h"
#include "platform/sim/processes/SimServices.h"
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

// Sections of the tests' own, declared as every part of the simulation
// declares one.
struct Counter {
    static constexpr const char* kKey = "counter";
    int count = 0;
};
SIM_JSON_STORED_AS(Counter, count)

struct Names {
    static constexpr const char* kKey = "names";
    sim::EntryList<std::wstring> entries;
};
SIM_JSON_STORED_AS(Names, entries)

class MachineStoreTest : public SimMachineTest {
protected:
    // A second view of the machine, as another process has it.
    std::shared_ptr<sim::Machine> OtherProcess() { return sim::Machine::Open(folder_); }

    static size_t RegistryKeys(const sim::Machine& machine) {
        return machine.Read<sim::Registry>([](const sim::Registry& registry) { return registry.keys.size(); });
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
        // Those in C:\Load: a fresh machine has its stock junctions recorded too.
        const sim::MachineState state = machine->Snapshot();
        const std::wstring load = sim::PathKey(L"C:\\Load") + L"\\";
        EXPECT_EQ(std::count_if(state.files.begin(), state.files.end(),
                                [&](const auto& file) { return file.first.rfind(load, 0) == 0; }),
                  static_cast<std::ptrdiff_t>(expected));
        size_t values = 0;
        for (int t = 0; t < kThreads; ++t) {
            machine->Read<sim::Registry>([&](const sim::Registry& registry) {
                values += registry.keys.at(LoadKey(t)).size();
            });
        }
        EXPECT_EQ(values, expected);
    }
}

TEST_F(MachineStoreTest, ReadChangeWriteOfTwoSectionsCountsEveryChange) {
    // Each change reads a section and writes it back in one edit, alone or
    // together with the other section in one transaction; any edit
    // applied to a stale copy would lose changes.
    std::shared_ptr<sim::Machine> other = OtherProcess();
    constexpr int kEditors = 4;
    constexpr int kEdits = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kEditors; ++t) {
        sim::Machine& machine = t % 2 == 0 ? *machine_ : *other;
        threads.emplace_back([&machine, t] {
            for (int r = 0; r < kEdits; ++r) {
                machine.Edit<Counter>([](Counter& counter) { ++counter.count; });
                machine.Edit<Names>([&](Names& names) { names.entries.push_back(Name(L"alone", t, r)); });
                machine.Edit<Counter>([&](Counter& counter) {
                    machine.Edit<Names>([&](Names& names) { names.entries.push_back(Name(L"joined", t, r)); });
                    ++counter.count;
                });
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    const size_t expected = 2 * kEditors * kEdits;
    for (const auto& machine : {machine_, other, OtherProcess()}) {
        EXPECT_EQ(machine->Snapshot<Counter>().count, static_cast<int>(expected));
        const sim::EntryList<std::wstring> names = machine->Snapshot<Names>().entries;
        EXPECT_EQ(std::set<std::wstring>(names.begin(), names.end()).size(), expected);
        EXPECT_EQ(names.size(), expected);
    }
}

TEST_F(MachineStoreTest, AnotherProcessSeesEachChangeAtItsNextRead) {
    std::shared_ptr<sim::Machine> other = OtherProcess();
    sim::SetRegistryString(*machine_, L"HKLM\\SOFTWARE\\A", L"v", L"1");
    EXPECT_EQ(other->Snapshot<sim::Registry>().keys.at(L"HKLM\\SOFTWARE\\A").at(L"v"), L"1");
    // The other process changes what it has just seen; both changes stay.
    other->Edit([](sim::MachineState& state) { state.codePages.oem = 850; });
    sim::SetRegistryString(*other, L"HKLM\\SOFTWARE\\B", L"v", L"2");
    EXPECT_EQ(machine_->Snapshot().codePages.oem, 850u);
    EXPECT_EQ(RegistryKeys(*machine_), 2u);
    machine_->SetMeta(L"C:\\x.txt", sim::FileMeta{platform::kAttrReadOnly, {}});
    EXPECT_EQ(other->Meta(L"c:\\X.TXT").attributes, uint32_t{platform::kAttrReadOnly});
}

TEST_F(MachineStoreTest, NestedEditsJoinTheOuterTransaction) {
    std::shared_ptr<sim::Machine> other = OtherProcess();
    machine_->Edit<sim::Registry>([&](sim::Registry& registry) {
        machine_->Edit([](sim::MachineState& state) { state.codePages.oem = 850; });
        sim::SetRegistryString(*machine_, L"HKLM\\SOFTWARE\\Inner", L"v", L"1");
        // Inside the transaction its changes are visible to itself only.
        // (The other store has read nothing new since, so it answers
        // without waiting for the lock this transaction holds.)
        EXPECT_EQ(machine_->Snapshot().codePages.oem, 850u);
        EXPECT_EQ(other->Snapshot().codePages.oem, 437u);
        EXPECT_EQ(RegistryKeys(*other), 0u);
        registry.keys[L"HKLM\\SOFTWARE\\Outer"];
    });
    EXPECT_EQ(other->Snapshot().codePages.oem, 850u);
    EXPECT_EQ(RegistryKeys(*other), 2u);
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
    EXPECT_THROW(machine_->Edit<Counter>([&](Counter& counter) {
        counter.count = 1;
        try {
            machine_->Edit([](sim::MachineState& state) {
                state.codePages.oem = 850;
                throw std::runtime_error("inner");
            });
        } catch (const std::runtime_error&) {
        }
    }),
                 std::runtime_error);
    EXPECT_EQ(machine_->Snapshot<Counter>().count, 0);
    EXPECT_EQ(machine_->Snapshot().codePages.oem, 437u);
    EXPECT_EQ(OtherProcess()->Snapshot<Counter>().count, 0);
}

TEST_F(MachineStoreTest, EditThatChangesNothingWritesNothing) {
    const std::string path = folder_ + "/machine.json";
    std::filesystem::remove(path);
    machine_->Edit<sim::Registry>([](sim::Registry&, bool&) {});
    machine_->ForgetMeta(L"C:\\Nothing\\Recorded");
    machine_->SetMeta(L"C:\\Nothing\\Recorded", sim::FileMeta{});
    EXPECT_FALSE(std::filesystem::exists(path));
    machine_->SetMeta(L"C:\\Something", sim::FileMeta{platform::kAttrHidden, {}});
    EXPECT_TRUE(std::filesystem::exists(path));
}

}  // namespace
