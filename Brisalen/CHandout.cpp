#include "Brisalen/CHandout.h"

bool CHandoutShelf::TakeBack(const void* head) {
    std::unique_ptr<CRecordBlock> block;
    {
        std::lock_guard<std::mutex> lock(lock_);
        const auto found = blocks_.find(head);
        if (found == blocks_.end()) return false;
        block = std::move(found->second);
        blocks_.erase(found);
    }
    return true;  // the block goes outside the lock
}

size_t CHandoutShelf::Outstanding() const {
    std::lock_guard<std::mutex> lock(lock_);
    return blocks_.size();
}
