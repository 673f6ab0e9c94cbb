#include "LibraryDocument.h"

#include <plist/plist.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "XmlNesting.h"

namespace itl {

namespace {

constexpr char kTracks[] = "Tracks";
constexpr char kPlaylists[] = "Playlists";
constexpr char kPlaylistItems[] = "Playlist Items";
constexpr char kTrackId[] = "Track ID";
constexpr char kLocation[] = "Location";
constexpr char kName[] = "Name";

// Handles are serial numbers, not addresses: a handle of a removed track, or
// of a file read before, never names a different track later on.
std::atomic<uintptr_t> g_nextHandle{1};

void* NewHandle() { return reinterpret_cast<void*>(g_nextHandle.fetch_add(1)); }

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

bool IsType(plist_t node, plist_type type) { return node && plist_get_node_type(node) == type; }

bool ReadId(plist_t dict, uint64_t& id) {
    plist_t node = plist_dict_get_item(dict, kTrackId);
    if (!IsType(node, PLIST_UINT)) return false;
    plist_get_uint_val(node, &id);
    return true;
}

std::string StringOf(plist_t node) {
    char* value = nullptr;
    plist_get_string_val(node, &value);
    std::string text = value ? value : "";
    std::free(value);
    return text;
}

bool ValidTracks(plist_t tracks) {
    if (!IsType(tracks, PLIST_DICT)) return false;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(tracks, &it);
    bool valid = true;
    for (;;) {
        char* key = nullptr;
        plist_t track = nullptr;
        plist_dict_next_item(tracks, it, &key, &track);
        std::free(key);
        if (!track) break;
        uint64_t id = 0;
        plist_t location = IsType(track, PLIST_DICT) ? plist_dict_get_item(track, kLocation) : nullptr;
        if (!IsType(track, PLIST_DICT) || !ReadId(track, id) || (location && !IsType(location, PLIST_STRING))) {
            valid = false;
            break;
        }
    }
    std::free(it);
    return valid;
}

bool ValidPlaylists(plist_t playlists) {
    if (!playlists) return true;
    if (!IsType(playlists, PLIST_ARRAY)) return false;
    for (uint32_t i = 0; i < plist_array_get_size(playlists); ++i) {
        plist_t playlist = plist_array_get_item(playlists, i);
        if (!IsType(playlist, PLIST_DICT)) return false;
        plist_t items = plist_dict_get_item(playlist, kPlaylistItems);
        if (!items) continue;
        if (!IsType(items, PLIST_ARRAY)) return false;
        for (uint32_t j = 0; j < plist_array_get_size(items); ++j) {
            uint64_t id = 0;
            plist_t item = plist_array_get_item(items, j);
            if (!IsType(item, PLIST_DICT) || !ReadId(item, id)) return false;
        }
    }
    return true;
}

plist_t NewLibraryRoot() {
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "Major Version", plist_new_uint(1));
    plist_dict_set_item(root, "Minor Version", plist_new_uint(1));
    plist_dict_set_item(root, kTracks, plist_new_dict());
    plist_dict_set_item(root, kPlaylists, plist_new_array());
    return root;
}

}  // namespace

struct LibraryDocument::Tree {
    PlistPtr root;
    plist_t Tracks() const { return plist_dict_get_item(root.get(), kTracks); }
    plist_t Playlists() {
        plist_t playlists = plist_dict_get_item(root.get(), kPlaylists);
        if (!playlists) {
            plist_dict_set_item(root.get(), kPlaylists, plist_new_array());
            playlists = plist_dict_get_item(root.get(), kPlaylists);
        }
        return playlists;
    }
};

LibraryDocument::LibraryDocument() : tree_(std::make_unique<Tree>()) { tree_->root.reset(NewLibraryRoot()); }
LibraryDocument::~LibraryDocument() = default;
LibraryDocument::LibraryDocument(LibraryDocument&&) noexcept = default;
LibraryDocument& LibraryDocument::operator=(LibraryDocument&&) noexcept = default;

ParseResult LibraryDocument::Parse(const std::string& bytes, LibraryDocument& out) {
    if (bytes.compare(0, 4, "hdfm") == 0) return ParseResult::UnsupportedFormat;
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return ParseResult::Damaged;
    switch (ScanXmlNesting(bytes, kMaxLibraryNesting)) {
        case NestingScan::Within: break;
        case NestingScan::TooDeep: return ParseResult::NestedTooDeeply;
        case NestingScan::NotUnderstood: return ParseResult::Damaged;
    }
    plist_t parsed = nullptr;
    plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &parsed);
    PlistPtr root(parsed);
    if (!IsType(root.get(), PLIST_DICT)) return ParseResult::Damaged;
    if (!ValidTracks(plist_dict_get_item(root.get(), kTracks))) return ParseResult::Damaged;
    if (!ValidPlaylists(plist_dict_get_item(root.get(), kPlaylists))) return ParseResult::Damaged;
    LibraryDocument document;
    document.tree_->root = std::move(root);
    document.IndexTracks();
    out = std::move(document);
    return ParseResult::Ok;
}

void LibraryDocument::IndexTracks() {
    handles_.clear();
    plist_t tracks = tree_->Tracks();
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(tracks, &it);
    for (;;) {
        char* key = nullptr;
        plist_t track = nullptr;
        plist_dict_next_item(tracks, it, &key, &track);
        if (!track) {
            std::free(key);
            break;
        }
        uint64_t id = 0;
        ReadId(track, id);
        handles_.push_back({NewHandle(), key, id});
        std::free(key);
    }
    std::free(it);
}

std::string LibraryDocument::Serialize() const {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(tree_->root.get(), &xml, &length);
    std::string text = xml ? std::string(xml, length) : std::string();
    plist_to_xml_free(xml);
    return text;
}

std::vector<MediaEntry> LibraryDocument::Media() const {
    std::vector<MediaEntry> media;
    plist_t tracks = tree_->Tracks();
    for (const Handle& handle : handles_) {
        plist_t location = plist_dict_get_item(plist_dict_get_item(tracks, handle.key.c_str()), kLocation);
        if (location) media.push_back({handle.value, StringOf(location)});
    }
    return media;
}

bool LibraryDocument::Contains(void* handle) const {
    return std::any_of(handles_.begin(), handles_.end(), [&](const Handle& h) { return h.value == handle; });
}

bool LibraryDocument::Remove(void* handle) {
    auto found = std::find_if(handles_.begin(), handles_.end(), [&](const Handle& h) { return h.value == handle; });
    if (found == handles_.end()) return false;
    const uint64_t id = found->id;
    plist_dict_remove_item(tree_->Tracks(), found->key.c_str());
    handles_.erase(found);
    // Another key may carry the same id in a damaged-but-readable file; its
    // playlist entries then stay, so that no playlist loses a live track.
    const bool idStillUsed =
        std::any_of(handles_.begin(), handles_.end(), [&](const Handle& h) { return h.id == id; });
    if (idStillUsed) return true;
    plist_t playlists = tree_->Playlists();
    for (uint32_t i = 0; i < plist_array_get_size(playlists); ++i) {
        plist_t items = plist_dict_get_item(plist_array_get_item(playlists, i), kPlaylistItems);
        if (!items) continue;
        for (uint32_t j = plist_array_get_size(items); j-- > 0;) {
            uint64_t itemId = 0;
            if (ReadId(plist_array_get_item(items, j), itemId) && itemId == id) plist_array_remove_item(items, j);
        }
    }
    return true;
}

void LibraryDocument::AddPlaylist(const std::string& name) {
    plist_t playlist = plist_new_dict();
    plist_dict_set_item(playlist, kName, plist_new_string(name.c_str()));
    plist_dict_set_item(playlist, kPlaylistItems, plist_new_array());
    plist_array_append_item(tree_->Playlists(), playlist);
}

void LibraryDocument::AddTrack(const std::string& location, MediaKind kind, const std::string& name) {
    uint64_t id = 0;
    for (const Handle& handle : handles_) id = std::max(id, handle.id);
    // Keys normally equal the ids, but nothing forces a file to keep that.
    std::string key;
    do key = std::to_string(++id);
    while (plist_dict_get_item(tree_->Tracks(), key.c_str()));
    plist_t track = plist_new_dict();
    plist_dict_set_item(track, kTrackId, plist_new_uint(id));
    plist_dict_set_item(track, kName, plist_new_string(name.c_str()));
    const bool remote = location.compare(0, 7, "http://") == 0 || location.compare(0, 8, "https://") == 0;
    plist_dict_set_item(track, "Track Type", plist_new_string(remote ? "URL" : "File"));
    switch (kind) {
        case MediaKind::Music: break;
        case MediaKind::Movie: plist_dict_set_item(track, "Movie", plist_new_bool(1)); break;
        case MediaKind::TvShow: plist_dict_set_item(track, "TV Show", plist_new_bool(1)); break;
        case MediaKind::Podcast: plist_dict_set_item(track, "Podcast", plist_new_bool(1)); break;
        case MediaKind::Audiobook: plist_dict_set_item(track, "Kind", plist_new_string("Audiobook")); break;
        case MediaKind::MusicVideo: plist_dict_set_item(track, "Music Video", plist_new_bool(1)); break;
    }
    plist_dict_set_item(track, kLocation, plist_new_string(location.c_str()));
    plist_dict_set_item(tree_->Tracks(), key.c_str(), track);
    handles_.push_back({NewHandle(), key, id});
}

std::vector<uint64_t> LibraryDocument::TrackIds() const {
    std::vector<uint64_t> ids;
    for (const Handle& handle : handles_) ids.push_back(handle.id);
    return ids;
}

std::vector<std::vector<uint64_t>> LibraryDocument::PlaylistItems() const {
    std::vector<std::vector<uint64_t>> result;
    plist_t playlists = plist_dict_get_item(tree_->root.get(), kPlaylists);
    for (uint32_t i = 0; playlists && i < plist_array_get_size(playlists); ++i) {
        std::vector<uint64_t> ids;
        plist_t items = plist_dict_get_item(plist_array_get_item(playlists, i), kPlaylistItems);
        for (uint32_t j = 0; items && j < plist_array_get_size(items); ++j) {
            uint64_t id = 0;
            ReadId(plist_array_get_item(items, j), id);
            ids.push_back(id);
        }
        result.push_back(std::move(ids));
    }
    return result;
}

}  // namespace itl
