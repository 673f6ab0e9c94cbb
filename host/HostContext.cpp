#include "host/HostContext.h"

#include <iostream>

bool HostContext::LoadLibrary() {
    if (createRepairManager_ != nullptr) return true;
    std::string error;
    library_ = LoadedLibrary::Load(libraryPath, error);
    if (!library_) {
        std::cerr << "brisalen: " << error << "\n";
        return false;
    }
    createRepairManager_ = reinterpret_cast<CreateFixItuensMgrFn>(library_->Symbol("CreateFixItuensMgr"));
    createUserDataManager_ = reinterpret_cast<CreateItunesUserDataMgrFn>(library_->Symbol("CreateItunesUserDataMgr"));
    if (createRepairManager_ == nullptr || createUserDataManager_ == nullptr) {
        std::cerr << "brisalen: the library lacks its factory exports\n";
        createRepairManager_ = nullptr;
        return false;
    }
    return true;
}

CreateFixItuensMgrFn HostContext::RepairManagerFactory() { return LoadLibrary() ? createRepairManager_ : nullptr; }

IFixItunesMgr* HostContext::RepairManager() {
    CreateFixItuensMgrFn create = RepairManagerFactory();
    return create ? create() : nullptr;
}

IItunesUserDataMgr* HostContext::UserDataManager() { return LoadLibrary() ? createUserDataManager_() : nullptr; }

void* HostContext::Export(const char* name) {
    if (!LoadLibrary()) return nullptr;
    void* symbol = library_->Symbol(name);
    if (symbol == nullptr) std::cerr << "brisalen: the library lacks the export " << name << "\n";
    return symbol;
}

namespace {

void PrintText(const nlohmann::json& value, int indent) {
    const std::string pad(static_cast<size_t>(indent), ' ');
    if (value.is_array()) {
        for (const auto& entry : value) {
            if (entry.is_structured()) {
                std::cout << pad << "-\n";
                PrintText(entry, indent + 2);
            } else {
                std::cout << pad << "- " << (entry.is_string() ? entry.get<std::string>() : entry.dump()) << "\n";
            }
        }
        return;
    }
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (it->is_structured() && !it->empty()) {
            std::cout << pad << it.key() << ":\n";
            PrintText(*it, indent + 2);
        } else {
            std::cout << pad << it.key() << ": " << (it->is_string() ? it->get<std::string>() : it->dump()) << "\n";
        }
    }
}

}  // namespace

void HostContext::Print(const nlohmann::json& value) const {
    if (json) std::cout << value.dump(2) << "\n";
    else PrintText(value, 0);
}
