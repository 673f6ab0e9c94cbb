// A progress line on standard error: rewritten in place on a terminal, and
// otherwise printed as plain lines, at most one every few seconds, so logs
// of a long task stay readable.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

class ProgressLine {
public:
    ProgressLine();
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Shows `text` unless the last one went out very recently.
    void Update(const std::string& text);
    // Ends the line (on a terminal) before other output follows.
    void Finish();

private:
    const bool terminal_;
    std::mutex mutex_;
    std::chrono::steady_clock::time_point last_{};
    bool shown_ = false;
};

// "512 B", "3.4 KB", "12.0 MB", "1.50 GB".
std::string ByteText(int64_t bytes);
