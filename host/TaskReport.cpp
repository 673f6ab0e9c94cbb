#include "host/TaskReport.h"

#include <iostream>

void TaskReport::Add(int state, nlohmann::json entry, const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!json_ && !line.empty()) {
        progress_.Finish();
        std::cout << line << std::endl;
    }
    if (state == finalState_) {
        progress_.Finish();
        summary_ = std::move(entry);
        done_ = true;
        finished_.notify_all();
    } else {
        items_.push_back(std::move(entry));
    }
}

void TaskReport::AddProgress(const std::string& text, nlohmann::json entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    progress_.Update(text);
    if (!entry.is_null()) items_.push_back(std::move(entry));
}

nlohmann::json TaskReport::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return done_; });
    return {{"items", items_}, {"summary", summary_}};
}
