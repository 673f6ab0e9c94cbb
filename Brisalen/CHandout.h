// What the C interface has handed out and not yet got back. Each record it
// returns by pointer heads a block of its own; BrisalenFree hands the block
// back by that pointer. A pointer the shelf does not hold (a foreign one, one
// handed back already) is refused, so a host's double free costs nothing.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "Brisalen/CRecordBlock.h"

class CHandoutShelf {
public:
    static CHandoutShelf& Instance();

    // Keeps `block` until `head` (a record inside it) is handed back.
    template <typename Record>
    const Record* HandOut(std::unique_ptr<CRecordBlock> block, const Record* head) {
        std::lock_guard<std::mutex> lock(lock_);
        blocks_[head] = std::move(block);
        return head;
    }

    // True when `head` was out and its block is now freed.
    bool TakeBack(const void* head);

    size_t Outstanding() const;

private:
    mutable std::mutex lock_;
    std::map<const void*, std::unique_ptr<CRecordBlock>> blocks_;
};

// A block with a record of type `Record` at its head, filled by `fill`
// (Record&, CRecordBlock&), handed out; null when `fill` returns false.
template <typename Record, typename Fill>
const Record* HandOutRecord(Fill&& fill) {
    auto block = std::make_unique<CRecordBlock>();
    Record* head = block->Records<Record>(1);
    if (!fill(*head, *block)) return nullptr;
    return CHandoutShelf::Instance().HandOut(std::move(block), head);
}
