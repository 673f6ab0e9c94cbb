// Whether this build runs under AddressSanitizer, whose own fault handling
// makes deliberate crashes unsuitable as tests.
#pragma once

namespace sim {

constexpr bool RunningUnderSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

}  // namespace sim
