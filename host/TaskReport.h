// Collects a library task's reports from its worker thread; the command
// waits for the final one. Text lines are printed as each report arrives;
// reports that only say what the task is busy with go to a progress line.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "host/ProgressLine.h"

class TaskReport {
public:
    TaskReport(bool json, int finalState) : json_(json), finalState_(finalState) {}

    void Add(int state, nlohmann::json entry, const std::string& line);
    // A report whose text only shows on the progress line; a non-null
    // `entry` is kept for --json.
    void AddProgress(const std::string& text, nlohmann::json entry = nullptr);
    // {"items": [...], "summary": final entry}, once the final report came.
    nlohmann::json Wait();

private:
    const bool json_;
    const int finalState_;
    std::mutex mutex_;
    std::condition_variable finished_;
    ProgressLine progress_;
    nlohmann::json items_ = nlohmann::json::array();
    nlohmann::json summary_;
    bool done_ = false;
};
