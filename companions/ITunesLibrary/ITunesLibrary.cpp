#include "ITunesLibrary.h"


#include "FileStore.h"
#include "LibraryDocument.h"
#include "base/Utf8.h"

namespace ITL {

// What the object holds: the document and whether it may be written.
class LibraryState {
public:
    enum class Origin { Fresh, Read, Refused };
    itl::LibraryDocument document;
    Origin origin = Origin::Fresh;
    std::string path;  // UTF-8, for the enumeration's first report
};

namespace {

bool ToKind(ITL_SE_MEDIA_TYPE type, itl::MediaKind& kind) {
    switch (type) {
        case ITL_SE_MEDIA_MUSIC: kind = itl::MediaKind::Music; return true;
        case ITL_SE_MEDIA_MOVIE: kind = itl::MediaKind::Movie; return true;
        case ITL_SE_MEDIA_TV_SHOW: kind = itl::MediaKind::TvShow; return true;
        case ITL_SE_MEDIA_PODCAST: kind = itl::MediaKind::Podcast; return true;
        case ITL_SE_MEDIA_AUDIOBOOK: kind = itl::MediaKind::Audiobook; return true;
        case ITL_SE_MEDIA_MUSIC_VIDEO: kind = itl::MediaKind::MusicVideo; return true;
    }
    return false;
}

bool HasNul(const std::wstring& text) { return text.find(L'\0') != std::wstring::npos; }

}  // namespace

// The state is made on first use, so that construction itself cannot fail
// in a caller that does not expect an exception from it.
IITunesLibrary::IITunesLibrary() = default;
IITunesLibrary::~IITunesLibrary() = default;

ITL_SE_ERROR IITunesLibrary::Read(std::wstring path) try {
    if (!state_) state_ = std::make_unique<LibraryState>();
    state_->origin = LibraryState::Origin::Refused;
    state_->document = itl::LibraryDocument();
    state_->path = base::WideToUtf8(path, base::Surrogates::Pair);
    if (path.empty() || HasNul(path)) return ITL_SE_INVALID_ARGUMENT;
    std::string bytes;
    if (itl::ReadWholeFile(itl::ToNativePath(path), bytes) != itl::ReadOutcome::Ok) return ITL_SE_OPEN_FAILED;
    switch (itl::LibraryDocument::Parse(bytes, state_->document)) {
        case itl::ParseResult::Ok: state_->origin = LibraryState::Origin::Read; return ITL_SE_OK;
        case itl::ParseResult::UnsupportedFormat: return ITL_SE_UNSUPPORTED_FORMAT;
        case itl::ParseResult::Damaged: return ITL_SE_DAMAGED;
        case itl::ParseResult::NestedTooDeeply: return ITL_SE_NESTED_TOO_DEEPLY;
    }
    return ITL_SE_DAMAGED;
} catch (...) {
    if (state_) state_->origin = LibraryState::Origin::Refused;
    return ITL_SE_INTERNAL;
}

ITL_SE_ERROR IITunesLibrary::AddPlayList(std::wstring name) try {
    if (name.empty() || HasNul(name)) return ITL_SE_INVALID_ARGUMENT;
    if (!state_) state_ = std::make_unique<LibraryState>();
    if (state_->origin == LibraryState::Origin::Refused) return ITL_SE_NOT_LOADED;
    state_->document.AddPlaylist(base::WideToUtf8(name, base::Surrogates::Pair));
    return ITL_SE_OK;
} catch (...) {
    return ITL_SE_INTERNAL;
}

ITL_SE_ERROR IITunesLibrary::Append(std::wstring location, ITL_SE_MEDIA_TYPE type, std::wstring name) try {
    itl::MediaKind kind{};
    if (location.empty() || HasNul(location) || HasNul(name) || !ToKind(type, kind)) return ITL_SE_INVALID_ARGUMENT;
    if (!state_) state_ = std::make_unique<LibraryState>();
    if (state_->origin == LibraryState::Origin::Refused) return ITL_SE_NOT_LOADED;
    state_->document.AddTrack(base::WideToUtf8(location, base::Surrogates::Pair), kind,
                              base::WideToUtf8(name, base::Surrogates::Pair));
    return ITL_SE_OK;
} catch (...) {
    return ITL_SE_INTERNAL;
}

ITL_SE_ERROR IITunesLibrary::Write(std::wstring path) try {
    if (path.empty() || HasNul(path)) return ITL_SE_INVALID_ARGUMENT;
    if (!state_) state_ = std::make_unique<LibraryState>();
    if (state_->origin == LibraryState::Origin::Refused) return ITL_SE_NOT_LOADED;
    const itl::NativePath target = itl::ToNativePath(path);
    // A fresh object holds an empty library: writing it over an existing
    // file would throw the user's library away.
    if (state_->origin == LibraryState::Origin::Fresh && itl::PathExists(target)) return ITL_SE_WOULD_OVERWRITE;
    switch (itl::ReplaceFileContents(target, state_->document.Serialize())) {
        case itl::WriteOutcome::Ok: return ITL_SE_OK;
        case itl::WriteOutcome::ReadOnly: return ITL_SE_READ_ONLY;
        case itl::WriteOutcome::InUse: return ITL_SE_IN_USE;
        case itl::WriteOutcome::Failed: break;
    }
    return ITL_SE_WRITE_FAILED;
} catch (...) {
    return ITL_SE_INTERNAL;
}

bool IITunesLibrary::EnumMediaBlock(EnumMediaBlockCallback callback, void* context) try {
    if (!callback) return false;
    if (!state_) state_ = std::make_unique<LibraryState>();
    // A snapshot, so that the callback may remove entries as it goes.
    const std::vector<itl::MediaEntry> media = state_->document.Media();
    bool completed = callback(eEnumItunesBegin, state_->path, nullptr, context);
    for (const itl::MediaEntry& entry : media) {
        if (!completed) break;
        if (!state_->document.Contains(entry.handle)) continue;
        completed = callback(eEnumItunesMedia, entry.location, entry.handle, context);
    }
    callback(eEnumItunesEnd, std::string(), nullptr, context);
    return completed;
} catch (...) {
    return false;
}

bool IITunesLibrary::RemoveMediaBlock(void* block) try {
    return state_ && block && state_->document.Remove(block);
} catch (...) {
    return false;
}

}  // namespace ITL

ITL::IITunesLibrary* CreateITunesLibrary() {
    try {
        return std::make_unique<ITL::IITunesLibrary>().release();
    } catch (...) {
        return nullptr;
    }
}

void DestroyITunesLibrary(ITL::IITunesLibrary* library) { std::unique_ptr<ITL::IITunesLibrary> owned(library); }
