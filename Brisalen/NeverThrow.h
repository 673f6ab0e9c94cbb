// No exception may cross into the host: one that escapes an entry point
// (out of memory while copying a path, say) becomes a log line and the entry
// point's failure value.
#pragma once

#include <exception>

#include "logging/Log.h"

template <typename Result, typename Body>
Result NeverThrow(Result onFailure, const Body& body) {
    try {
        return body();
    } catch (const std::exception& e) {
        LOG_INFO_W(L"ERR:call ended by an exception (%s)\n", logging::Widen(e.what()));
    } catch (...) {
        LOG_INFO_W(L"ERR:call ended by an exception\n");
    }
    return onFailure;
}
