#include "XmlNesting.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace itl {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsContainer(const std::string& name) { return name == "plist" || name == "dict" || name == "array"; }

bool IsValue(const std::string& name) {
    static const char* const kValues[] = {"key", "string", "integer", "real", "date", "data", "true", "false"};
    return std::any_of(std::begin(kValues), std::end(kValues), [&](const char* value) { return name == value; });
}

class NestingScanner {
public:
    NestingScanner(const std::string& bytes, size_t maxDepth)
        : at_(bytes.data()), end_(bytes.data() + bytes.size()), maxDepth_(maxDepth) {}

    NestingScan Run() {
        if (std::memchr(at_, '\0', static_cast<size_t>(end_ - at_)) != nullptr) return NestingScan::NotUnderstood;
        for (;;) {
            while (at_ < end_ && IsBlank(*at_)) ++at_;
            if (at_ == end_) return NestingScan::Within;
            // Text between elements is nothing a property list has.
            if (*at_ != '<' || !Markup()) return tooDeep_ ? NestingScan::TooDeep : NestingScan::NotUnderstood;
        }
    }

private:
    bool StartsWith(const char* text) const {
        const size_t length = std::strlen(text);
        return static_cast<size_t>(end_ - at_) >= length && std::memcmp(at_, text, length) == 0;
    }

    // Moves past the first `terminator`. libplist skips double-quoted runs
    // while it looks for the end of some constructs and not of others; an
    // even number of quotes before the terminator makes both ends the same.
    bool SkipPast(const char* terminator) {
        const char* found = std::search(at_, end_, terminator, terminator + std::strlen(terminator));
        if (found == end_ || std::count(at_, found, '"') % 2 != 0) return false;
        at_ = found + std::strlen(terminator);
        return true;
    }

    // The rest of a tag up to its '>': true when it ends in "/>".
    bool TagEnd(bool& empty) {
        const char* close = std::find(at_, end_, '>');
        if (close == end_ || std::find(at_, close, '<') != close) return false;
        if (std::count(at_, close, '"') % 2 != 0) return false;
        empty = close[-1] == '/';
        at_ = close + 1;
        return true;
    }

    std::string Name() {
        const char* start = at_;
        while (at_ < end_ && !IsBlank(*at_) && *at_ != '<' && *at_ != '>') ++at_;
        return std::string(start, at_);
    }

    // "</name>" with blanks allowed before the '>'; `at_` is past "</".
    bool CloseTag(const std::string& expected) {
        if (Name() != expected) return false;
        while (at_ < end_ && IsBlank(*at_)) ++at_;
        if (at_ == end_ || *at_ != '>') return false;
        ++at_;
        return true;
    }

    // One piece of markup at element level; `at_` is on its '<'.
    bool Markup() {
        ++at_;
        if (StartsWith("?")) return SkipPast("?>");
        if (StartsWith("!--")) {
            at_ += 3;
            return SkipPast("-->");
        }
        if (StartsWith("!DOCTYPE")) {
            const char* close = std::find(at_, end_, '>');
            if (std::find(at_, close, '[') != close) return false;  // an internal subset
            bool empty = false;
            return TagEnd(empty);
        }
        if (StartsWith("/")) {
            ++at_;
            if (open_.empty()) return false;
            const std::string name = open_.back();
            open_.pop_back();
            return CloseTag(name);
        }
        std::string name = Name();
        bool empty = false;
        if (!TagEnd(empty)) return false;
        if (empty && !name.empty() && name.back() == '/') name.pop_back();
        if (IsContainer(name)) {
            if (empty) return true;
            if (open_.size() >= maxDepth_) {
                tooDeep_ = true;
                return false;
            }
            open_.push_back(name);
            return true;
        }
        if (!IsValue(name)) return false;
        return empty || ValueText(name);
    }

    // A value's text up to its close tag; comments and CDATA may sit inside.
    bool ValueText(const std::string& name) {
        for (;;) {
            at_ = std::find(at_, end_, '<');
            if (at_ == end_) return false;
            ++at_;
            if (StartsWith("!--")) {
                at_ += 3;
                if (!SkipPast("-->")) return false;
            } else if (StartsWith("![CDATA[")) {
                at_ += 8;
                if (!SkipPast("]]>")) return false;
            } else if (StartsWith("/")) {
                ++at_;
                return CloseTag(name);
            } else {
                return false;
            }
        }
    }

    const char* at_;
    const char* const end_;
    const size_t maxDepth_;
    std::vector<std::string> open_;
    bool tooDeep_ = false;
};

}  // namespace

NestingScan ScanXmlNesting(const std::string& bytes, size_t maxDepth) {
    return NestingScanner(bytes, maxDepth).Run();
}

}  // namespace itl
