#include "Brisalen/LibraryContext.h"

#include <memory>

#include "Brisalen/CHandout.h"
#include "Brisalen/CTaskAdapters.h"
#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/ConfigMgr.h"
#include "Brisalen/FileVerify.h"
#include "Brisalen/ItunesCheck.h"
#include "Brisalen/ItunesLibraryMgr.h"
#include "Brisalen/MsiEnum.h"
#include "Brisalen/MsiInstaller.h"
#include "Brisalen/OneKeyuninstall.h"
#include "Brisalen/OnekeyIntall.h"
#include "Brisalen/Win10AppStore.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "common/Singleton.h"

platform::Platform& LibraryPlatform() { return platform::Os(); }

CCollectDirMgr& CCollectDirMgr::Instance() {
    return Singleton<CCollectDirMgr>::Instance([] { return std::make_unique<CCollectDirMgr>(LibraryPlatform()); });
}

CConfigMgr& CConfigMgr::Instance() {
    return Singleton<CConfigMgr>::Instance([] { return std::make_unique<CConfigMgr>(LibraryPlatform()); });
}

CFileVerify& CFileVerify::Instance() {
    return Singleton<CFileVerify>::Instance(
        [] { return std::make_unique<CFileVerify>(LibraryPlatform(), CCollectDirMgr::Instance()); });
}

CMsiInstaller& CMsiInstaller::Instance() {
    return Singleton<CMsiInstaller>::Instance([] {
        return std::make_unique<CMsiInstaller>(LibraryPlatform(), CMsiEnum::Instance(), CFileVerify::Instance(),
                                               CCollectDirMgr::Instance());
    });
}

CMsiEnum& CMsiEnum::Instance() {
    return Singleton<CMsiEnum>::Instance(
        [] { return std::make_unique<CMsiEnum>(LibraryPlatform(), CCollectDirMgr::Instance()); });
}

CWin10AppStore& CWin10AppStore::Instance() {
    return Singleton<CWin10AppStore>::Instance([] { return std::make_unique<CWin10AppStore>(LibraryPlatform()); });
}

CItunesLibraryMgr& CItunesLibraryMgr::Instance() {
    return Singleton<CItunesLibraryMgr>::Instance(
        [] { return std::make_unique<CItunesLibraryMgr>(LibraryPlatform(), CCollectDirMgr::Instance()); });
}

CItunesCheck& CItunesCheck::Instance() {
    return Singleton<CItunesCheck>::Instance([] {
        return std::make_unique<CItunesCheck>(LibraryPlatform(), CMsiEnum::Instance(), CMsiInstaller::Instance(),
                                              CFileVerify::Instance(), CCollectDirMgr::Instance());
    });
}

COneKeyuninstall& COneKeyuninstall::Instance() {
    return Singleton<COneKeyuninstall>::Instance([] {
        return std::make_unique<COneKeyuninstall>(LibraryPlatform(), CMsiEnum::Instance(), CMsiInstaller::Instance(),
                                                  CCollectDirMgr::Instance(), CWin10AppStore::Instance());
    });
}

CItunesUserDataMgr& CItunesUserDataMgr::Instance() {
    return Singleton<CItunesUserDataMgr>::Instance([] {
        return std::make_unique<CItunesUserDataMgr>(LibraryPlatform(), CCollectDirMgr::Instance(),
                                                    CConfigMgr::Instance(), CItunesLibraryMgr::Instance());
    });
}

COnekeyIntall& COnekeyIntall::Instance() {
    return Singleton<COnekeyIntall>::Instance([] {
        return std::make_unique<COnekeyIntall>(LibraryPlatform().Process(), CItunesCheck::Instance(),
                                               CMsiInstaller::Instance());
    });
}

CHandoutShelf& CHandoutShelf::Instance() {
    return Singleton<CHandoutShelf>::Instance([] { return std::make_unique<CHandoutShelf>(); });
}

CTaskAdapterShelf& CTaskAdapterShelf::Instance() {
    return Singleton<CTaskAdapterShelf>::Instance([] { return std::make_unique<CTaskAdapterShelf>(); });
}
