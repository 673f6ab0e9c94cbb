// The slot order of the two manager interfaces, which hosts call through
// the virtual table by position. The record layouts are held at build time
// (Brisalen/PublicLayout.cpp); slots need a run-time look, because a
// pointer to a virtual member is no constant.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "include/Brisalen.h"

namespace {

// Under the Itanium C++ ABI (g++ on Linux and MinGW alike) a pointer to a
// virtual member function holds 1 + the byte offset of its slot in the
// virtual table, and an adjustment; -1 for a member that is not virtual.
template <typename Member>
long SlotOf(Member member) {
    struct Representation {
        ptrdiff_t pointer;
        ptrdiff_t adjustment;
    };
    static_assert(sizeof(Member) == sizeof(Representation), "an Itanium ABI pointer to member function");
    Representation raw{};
    std::memcpy(&raw, &member, sizeof raw);
    if ((raw.pointer & 1) == 0 || raw.adjustment != 0) return -1;
    return static_cast<long>((raw.pointer - 1) / static_cast<ptrdiff_t>(sizeof(void*)));
}

TEST(PublicInterface, RepairManagerSlotsAreInTheirBindingOrder) {
    EXPECT_EQ(SlotOf(&IFixItunesMgr::IsItunes64Bit), 0);
    EXPECT_EQ(SlotOf(&IFixItunesMgr::GetItunesVersion), 1);
    EXPECT_EQ(SlotOf(&IFixItunesMgr::CheckMicrosoftStoreItunes), 2);
    EXPECT_EQ(SlotOf(&IFixItunesMgr::IsOs64Bit), 3);
    EXPECT_EQ(SlotOf(&IFixItunesMgr::OpenItunes), 4);
    EXPECT_EQ(SlotOf(&IFixItunesMgr::CheckAllItunesComponent), 5);
    EXPECT_EQ(SlotOf(&IFixItunesMgr::RepairAllItunesComponent), 6);
    EXPECT_EQ(SlotOf(&IFixItunesMgr::RepairBadComponent), 7);
    EXPECT_EQ(SlotOf(&IFixItunesMgr::OneKeyUninstall), 8);
    EXPECT_EQ(SlotOf(&IFixItunesMgr::OneKeyInstall), 9);
}

TEST(PublicInterface, UserDataManagerSlotsAreInTheirBindingOrder) {
    EXPECT_EQ(SlotOf(&IItunesUserDataMgr::EnumItunesUserData), 0);
    EXPECT_EQ(SlotOf(&IItunesUserDataMgr::DeleteItuensUserData), 1);
}

}  // namespace
