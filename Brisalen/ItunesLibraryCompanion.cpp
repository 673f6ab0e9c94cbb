#include "Brisalen/ItunesLibraryCompanion.h"

#include "Brisalen/CompanionCall.h"
#include "logging/Log.h"

namespace {

constexpr wchar_t kCompanionName[] = L"ITunesLibrary.dll";
constexpr char kCreateExport[] = "CreateITunesLibrary";

}  // namespace

// Runs `call` under the fault guard; an exception or refusal is logged
// against `operation`.
template <typename Call>
bool CItunesLibraryCompanion::Guarded(const wchar_t* operation, Call& call) {
    return CallCompanion(m_os.Process(), kCompanionName, __FILE__, operation, call);
}

void CItunesLibraryCompanion::Deleter::operator()(ITL::IITunesLibrary* library) const {
    if (process == nullptr) return;
    auto call = [library] { delete library; };
    CallCompanion(*process, kCompanionName, __FILE__, L"CItunesLibraryCompanion::Destroy", call);
}

bool CItunesLibraryCompanion::Bind() {
    if (pfnCreate != nullptr) return true;
    auto loaded = m_os.Libraries().Load(kCompanionName);
    if (!loaded) {
        LOG_INFO_W(L"WARN:load %s fail 0x%x\n", std::wstring(kCompanionName), loaded.Error());
        return false;
    }
    // The export's real signature is the companion's contract; the seam
    // hands every export over as the same generic function type.
    const auto create = reinterpret_cast<CreateFn>(loaded.Value()->Export(kCreateExport));
    if (create == nullptr) {
        LOG_INFO_W(L"WARN:GetProcAddress %s fail\n", logging::Widen(kCreateExport));
        return false;
    }
    m_library = loaded.Take();
    pfnCreate = create;
    return true;
}

CItunesLibraryCompanion::LibraryPtr CItunesLibraryCompanion::Create() {
    if (!Bind()) return nullptr;
    ITL::IITunesLibrary* made = nullptr;
    auto call = [this, &made] { made = pfnCreate(); };
    if (!Guarded(L"CItunesLibraryCompanion::Create", call)) return nullptr;
    if (made == nullptr) LOG_INFO_W(L"WARN:%s made no library object\n", logging::Widen(kCreateExport));
    return LibraryPtr(made, Deleter{&m_os.Process()});
}

ITL::ITL_SE_ERROR CItunesLibraryCompanion::Read(ITL::IITunesLibrary& library, const std::wstring& path) {
    ITL::ITL_SE_ERROR result = ITL::ITL_SE_INTERNAL;
    auto call = [&] { result = library.Read(path); };
    return Guarded(L"CItunesLibraryCompanion::Read", call) ? result : ITL::ITL_SE_INTERNAL;
}

ITL::ITL_SE_ERROR CItunesLibraryCompanion::Write(ITL::IITunesLibrary& library, const std::wstring& path) {
    ITL::ITL_SE_ERROR result = ITL::ITL_SE_INTERNAL;
    auto call = [&] { result = library.Write(path); };
    return Guarded(L"CItunesLibraryCompanion::Write", call) ? result : ITL::ITL_SE_INTERNAL;
}

bool CItunesLibraryCompanion::EnumMediaBlock(ITL::IITunesLibrary& library, ITL::EnumMediaBlockCallback callback,
                                             void* context) {
    bool result = false;
    auto call = [&] { result = library.EnumMediaBlock(callback, context); };
    return Guarded(L"CItunesLibraryCompanion::EnumMediaBlock", call) && result;
}

bool CItunesLibraryCompanion::RemoveMediaBlock(ITL::IITunesLibrary& library, void* block) {
    bool result = false;
    auto call = [&] { result = library.RemoveMediaBlock(block); };
    return Guarded(L"CItunesLibraryCompanion::RemoveMediaBlock", call) && result;
}
