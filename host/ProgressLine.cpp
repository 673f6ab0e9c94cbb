#include "host/ProgressLine.h"

#include <cstdio>
#include <iostream>

#if defined(_WIN32)
#include <io.h>
#define BRISALEN_ISATTY(fd) _isatty(fd)
#define BRISALEN_FILENO(f) _fileno(f)
#else
#include <unistd.h>
#define BRISALEN_ISATTY(fd) isatty(fd)
#define BRISALEN_FILENO(f) fileno(f)
#endif

namespace {

constexpr auto kTerminalInterval = std::chrono::milliseconds(100);
constexpr auto kPlainInterval = std::chrono::seconds(2);

}  // namespace

ProgressLine::ProgressLine() : terminal_(BRISALEN_ISATTY(BRISALEN_FILENO(stderr)) != 0) {}

ProgressLine::~ProgressLine() { Finish(); }

void ProgressLine::Update(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < (terminal_ ? kTerminalInterval : kPlainInterval)) return;
    last_ = now;
    shown_ = true;
    if (terminal_) std::cerr << "\r" << text << "\x1b[K" << std::flush;
    else std::cerr << text << std::endl;
}

void ProgressLine::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (terminal_ && shown_) std::cerr << "\r\x1b[K" << std::flush;
    shown_ = false;
}

std::string ByteText(int64_t bytes) {
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < sizeof(kUnits) / sizeof(kUnits[0])) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof(text), unit >= 2 ? "%.2f %s" : "%.1f %s", value, kUnits[unit]);
    return text;
}
