// Runs a call when the scope ends, on every path out of it, unless
// dismissed first.
#pragma once

#include <utility>

namespace base {

template <typename Call>
class ScopeExit {
public:
    explicit ScopeExit(Call call) : call_(std::move(call)) {}
    ~ScopeExit() {
        if (armed_) call_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

    void Dismiss() { armed_ = false; }

private:
    Call call_;
    bool armed_ = true;
};

}  // namespace base
