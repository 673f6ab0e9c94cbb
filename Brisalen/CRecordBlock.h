// Storage behind the records the C interface hands out: the strings and
// arrays a record points to stay where they are until the whole block goes,
// so a host may keep any pointer it read from the record that long.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "include/BrisalenC.h"

class CRecordBlock {
public:
    // A copy of `text` ended by a zero.
    const wchar_t* Keep(const std::wstring& text) {
        strings_.push_back(text);
        return strings_.back().c_str();
    }

    // `count` value-initialised records of a C type (all zero).
    template <typename Record>
    Record* Records(size_t count) {
        auto storage = std::make_shared<std::vector<Record>>(count == 0 ? 1 : count);
        Record* first = storage->data();
        arrays_.push_back(std::move(storage));
        return first;
    }

    BRISALEN_STRING_LIST Strings(const std::vector<std::wstring>& texts) {
        BRISALEN_STRING_LIST list{};
        list.nCount = static_cast<uint32_t>(texts.size());
        const wchar_t** items = Records<const wchar_t*>(texts.size());
        for (size_t i = 0; i < texts.size(); ++i) items[i] = Keep(texts[i]);
        list.ppItems = items;
        return list;
    }

private:
    // A deque never moves what it holds, so the c_str() pointers stay put.
    std::deque<std::wstring> strings_;
    std::vector<std::shared_ptr<void>> arrays_;
};
