#include <string>

#include <gtest/gtest.h>

#include "SimMachineFixture.h"
#include "Brisalen/OneKeyuninstall.h"
#include "include/Brisalen.h"
#include "logging/Log.h"

namespace {

void CountCall(void* user, int32_t, const void*) { ++*static_cast<int*>(user); }

class FixItunesMgrTest : public LoggedMachineTest {
protected:
};

TEST_F(FixItunesMgrTest, FactoriesHandOutOneInstanceEach) {
    IFixItunesMgr* manager = CreateFixItuensMgr();
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager, CreateFixItuensMgr());
    ASSERT_NE(CreateItunesUserDataMgr(), nullptr);
    EXPECT_EQ(CreateItunesUserDataMgr(), CreateItunesUserDataMgr());
    EXPECT_FALSE(manager->IsItunes64Bit());
}

TEST_F(FixItunesMgrTest, MissingFoldersAreRefusedWithTheirNormalisedPath) {
    IFixItunesMgr* manager = CreateFixItuensMgr();
    int calls = 0;
    EXPECT_FALSE(manager->RepairAllItunesComponent(L"C:/no//such\\\\folder", &CountCall, &calls));
    EXPECT_FALSE(manager->OneKeyInstall(L"C:/no//unzip", &CountCall, &calls));
    const std::string text = LoadTimeLog();
    EXPECT_NE(text.find(" [$$RepairAllItunesComponent]...\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" package [C:\\no\\such\\folder]not exist!\n\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" [$$OneKeyInstall]:C:/no//unzip...\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" ERR:install package [C:\\no\\unzip] not exist!\n\n"), std::string::npos) << text;
    EXPECT_EQ(calls, 0);
}

TEST_F(FixItunesMgrTest, OneKeyUninstallClearsTheHostsCancelFlagOnEntry) {
    bool cancel = true;
    CreateFixItuensMgr()->OneKeyUninstall(nullptr, nullptr, true, &cancel);
    EXPECT_FALSE(cancel);
    COneKeyuninstall::Instance().WaitIdle();
    EXPECT_NE(LoadTimeLog().find(" [$$OneKeyUninstall]: isDeleteUserData=1...-----\n"), std::string::npos);
}

}  // namespace
