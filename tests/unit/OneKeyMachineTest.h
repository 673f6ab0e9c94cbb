// A fixture machine with the installer's cache and MsiZap.exe where the
// host folder has them, as the one-key uninstall expects; a case never
// leaves a task running behind it.
#pragma once

#include "Brisalen/MsiInstaller.h"
#include "Brisalen/OneKeyuninstall.h"
#include "FixturePackages.h"
#include "common/FileHelpers.h"

class OneKeyMachineTest : public FixtureMachineTest {
protected:
    void SetUp() override {
        FixtureMachineTest::SetUp();
        CreateDirTree(platform::Os().Files(), CMsiInstaller::Instance().InstallCacheDir());
        WriteFile(CMsiInstaller::Instance().MsiZapPath(), 64);
    }
    void TearDown() override {
        COneKeyuninstall::Instance().WaitIdle();
        FixtureMachineTest::TearDown();
    }
};
