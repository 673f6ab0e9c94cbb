// The library file's content as a property-list tree, kept whole so that
// every key this code does not know about is written back unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace itl {

enum class MediaKind { Music, Movie, TvShow, Podcast, Audiobook, MusicVideo };

enum class ParseResult { Ok, UnsupportedFormat, Damaged, NestedTooDeeply };

// Real libraries nest five levels; the bound keeps libplist's recursive
// walks over the tree (freeing, writing) far from the end of a 1 MiB stack.
constexpr size_t kMaxLibraryNesting = 256;

struct MediaEntry {
    void* handle;
    std::string location;  // UTF-8, as stored in the file
};

class LibraryDocument {
public:
    // An empty library: no tracks, no playlists.
    LibraryDocument();
    ~LibraryDocument();
    LibraryDocument(LibraryDocument&&) noexcept;
    LibraryDocument& operator=(LibraryDocument&&) noexcept;

    // Accepts only a layout it fully understands; `out` is left alone otherwise.
    static ParseResult Parse(const std::string& bytes, LibraryDocument& out);
    std::string Serialize() const;

    // Tracks with a location, in file order.
    std::vector<MediaEntry> Media() const;
    bool Contains(void* handle) const;
    bool Remove(void* handle);

    void AddPlaylist(const std::string& name);
    void AddTrack(const std::string& location, MediaKind kind, const std::string& name);

    std::vector<uint64_t> TrackIds() const;
    // Track ids of each playlist's items, in playlist order.
    std::vector<std::vector<uint64_t>> PlaylistItems() const;

private:
    struct Tree;
    struct Handle {
        void* value;
        std::string key;  // the track's key in "Tracks"
        uint64_t id;
    };
    void IndexTracks();

    std::unique_ptr<Tree> tree_;
    std::vector<Handle> handles_;
};

}  // namespace itl
