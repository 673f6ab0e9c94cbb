// Collects a library task's reports from its worker thread; the command
// waits for the final one. Text lines are printed as each report arrives.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

class TaskReport {
public:
    TaskReport(bool json, int finalState) : json_(json), finalState_(finalState) {}

    void Add(int state, nlohmann::json entry, const std::string& line);
    // {"items": [...], "summary": final entry}, once the final report came.
    nlohmann::json Wait();

private:
    const bool json_;
    const int finalState_;
    std::mutex mutex_;
    std::condition_variable finished_;
    nlohmann::json items_ = nlohmann::json::array();
    nlohmann::json summary_;
    bool done_ = false;
};
