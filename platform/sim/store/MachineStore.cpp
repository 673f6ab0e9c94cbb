#include "platform/sim/store/MachineStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "base/UniqueFd.h"

namespace sim {

namespace {

constexpr const char* kStateFile = "machine.json";
constexpr const char* kLockFile = "machine.lock";

std::string Errno(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

void WriteFileAtomically(const std::string& path, const std::string& text) {
    static std::atomic<unsigned> counter{0};
    // Unique per process and call: two stores on one folder must not write
    // into one temporary file, even if a lock was ever bypassed.
    const std::string temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    base::UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.Valid()) throw StoreError(StoreError::Kind::Unwritable, Errno("cannot create", temp));
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd.Get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string message = Errno("cannot write", temp);
            ::unlink(temp.c_str());
            throw StoreError(StoreError::Kind::Unwritable, message);
        }
        done += static_cast<size_t>(n);
    }
    // No fsync: the rename alone is what makes the change all-or-nothing
    // for other processes, and a simulated machine need not survive a
    // power cut of the host. Syncing every change cost milliseconds each.
    if (::close(fd.Release()) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string message = Errno("cannot replace", path);
        ::unlink(temp.c_str());
        throw StoreError(StoreError::Kind::Unwritable, message);
    }
}

std::string ReadWholeFile(const std::string& path) {
    base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) throw StoreError(StoreError::Kind::Unreadable, Errno("cannot read", path));
    std::string text;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw StoreError(StoreError::Kind::Unreadable, Errno("cannot read", path));
        if (n == 0) return text;
        text.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

// <folder>/machine.lock: the flock every transaction takes, and the
// generation counter in its first eight bytes, mapped shared so every
// process sees a bump at once.
class MachineLockFile {
public:
    explicit MachineLockFile(const std::string& path);
    ~MachineLockFile() {
        if (counter_ != nullptr) ::munmap(counter_, sizeof(uint64_t));
    }
    MachineLockFile(const MachineLockFile&) = delete;
    MachineLockFile& operator=(const MachineLockFile&) = delete;

    void Lock(int operation) {
        while (::flock(fd_.Get(), operation) != 0) {
            if (errno != EINTR) throw StoreError(StoreError::Kind::Unreadable, Errno("cannot lock", path_));
        }
    }
    void Unlock() { ::flock(fd_.Get(), LOCK_UN); }

    uint64_t Generation() const { return __atomic_load_n(counter_, __ATOMIC_ACQUIRE); }
    void SetGeneration(uint64_t generation) { __atomic_store_n(counter_, generation, __ATOMIC_RELEASE); }

private:
    const std::string path_;
    base::UniqueFd fd_;
    uint64_t* counter_ = nullptr;
};

// The flock of machine.lock from here to the end of the scope, let go on
// every way out of it, unless Keep hands it on to a transaction that goes
// on past the scope (an edit holds it until it leaves).
class FlockHold {
public:
    FlockHold(MachineLockFile& file, int operation) : file_(&file) { file.Lock(operation); }
    ~FlockHold() {
        if (file_ != nullptr) file_->Unlock();
    }
    FlockHold(const FlockHold&) = delete;
    FlockHold& operator=(const FlockHold&) = delete;

    void Keep() { file_ = nullptr; }

private:
    MachineLockFile* file_;
};

MachineLockFile::MachineLockFile(const std::string& path) : path_(path) {
    fd_ = base::UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd_.Valid()) throw StoreError(StoreError::Kind::Unreadable, Errno("cannot open", path));
    {
        FlockHold hold(*this, LOCK_EX);
        struct stat st {};
        const bool sized = ::fstat(fd_.Get(), &st) == 0 && (st.st_size >= static_cast<off_t>(sizeof(uint64_t)) ||
                                                            ::ftruncate(fd_.Get(), sizeof(uint64_t)) == 0);
        if (!sized) throw StoreError(StoreError::Kind::Unreadable, Errno("cannot size", path));
    }
    void* mapped = ::mmap(nullptr, sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd_.Get(), 0);
    if (mapped == MAP_FAILED) throw StoreError(StoreError::Kind::Unreadable, Errno("cannot map", path));
    counter_ = static_cast<uint64_t*>(mapped);
}

const nlohmann::json* SectionSlot::Find(const nlohmann::json& document, const char* key) {
    if (*key == '\0') return &document;
    auto it = document.find(key);
    return it == document.end() || it->is_null() ? nullptr : &*it;
}

void SectionSlot::Put(nlohmann::json value, const char* key, nlohmann::json& document) {
    if (*key != '\0') {
        document[key] = std::move(value);
        return;
    }
    // The top level shares the document with every other section.
    for (auto& [name, item] : value.items()) document[name] = std::move(item);
}

void SectionSlot::Fault(const char* key, const std::string& what) {
    if (*key == '\0') throw StoreError(StoreError::Kind::Corrupt, "machine.json: " + what);
}

MachineStore::MachineStore(std::string folder, CreateDefault createDefault)
    : folder_(std::move(folder)), path_(folder_ + "/" + kStateFile) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec) throw std::runtime_error("cannot create machine folder " + folder_ + ": " + ec.message());
    lock_ = std::make_unique<MachineLockFile>(folder_ + "/" + kLockFile);

    // Creation is an edit like any other, so two processes that open a new
    // machine at once agree on one default machine.
    std::lock_guard<std::recursive_mutex> guard(mutex_);
    FlockHold hold(*lock_, LOCK_EX);
    if (std::filesystem::exists(path_, ec)) {
        Load();
    } else {
        createDefault(document_);
        generation_ = lock_->Generation();
        Store();
        loaded_ = true;
        created_ = true;
    }
}

MachineStore::~MachineStore() = default;

bool MachineStore::Stale() const { return !loaded_ || lock_->Generation() != generation_; }

void MachineStore::Enter(Access access) {
    // Held past this call by the transaction it starts; Leave lets go.
    std::unique_lock<std::recursive_mutex> entered(mutex_);
    if (depth_ > 0) {
        if (access == Access::Write && !writing_) {
            throw std::logic_error("the simulated machine cannot be changed inside a read of it");
        }
        ++depth_;
        entered.release();
        return;
    }
    if (access == Access::Write) {
        FlockHold hold(*lock_, LOCK_EX);
        if (Stale()) Load();
        hold.Keep();
        writing_ = true;
    } else if (Stale()) {
        FlockHold hold(*lock_, LOCK_SH);
        Load();
    }
    depth_ = 1;
    entered.release();
}

void MachineStore::Commit(SectionSlot* slot, bool changed) {
    if (!writing_) return;
    if (changed && slot != nullptr) slot->dirty = true;
    dirty_ = dirty_ || changed;
    if (depth_ != 1) return;
    if (broken_) {
        throw StoreError(StoreError::Kind::Unwritable,
                         "a change to the simulated machine failed part-way; none of it was kept");
    }
    if (dirty_) Store();
}

void MachineStore::Leave(Access access, bool committed) {
    if (!committed && access == Access::Write) broken_ = true;
    if (--depth_ == 0) {
        if (writing_) {
            // What a failed transaction did to the state in memory is
            // undone by reading the file again.
            if (broken_) loaded_ = false;
            lock_->Unlock();
        }
        writing_ = dirty_ = broken_ = false;
    }
    mutex_.unlock();
}

void MachineStore::Load() {
    // The caller holds the flock, so no writer moves the counter meanwhile.
    const uint64_t generation = lock_->Generation();
    const std::string text = ReadWholeFile(path_);
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        throw StoreError(StoreError::Kind::Corrupt, "corrupt " + path_ + ": " + e.what());
    }
    if (!document.is_object()) throw StoreError(StoreError::Kind::Corrupt, "machine.json does not hold an object");
    document_ = std::move(document);
    slots_.clear();
    generation_ = generation;
    loaded_ = true;
}

void MachineStore::Store() {
    for (auto& [key, slot] : slots_) {
        if (!slot->dirty) continue;
        slot->WriteTo(document_);
        slot->dirty = false;
    }
    const std::string text = document_.dump(2) + "\n";
    // Counted before the file is replaced: a reader that sees the new
    // count waits for this writer's lock and then finds the new file.
    const uint64_t next = generation_ + 1;
    lock_->SetGeneration(next);
    WriteFileAtomically(path_, text);
    generation_ = next;
}

}  // namespace sim
