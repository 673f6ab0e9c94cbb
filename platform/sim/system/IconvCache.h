// iconv conversion descriptors, opened once per thread and pair of
// encodings: an iconv_t carries conversion state and must not be shared
// between threads.
#pragma once

#include <iconv.h>

#include <string>

namespace sim {

// The calling thread's descriptor converting `from` to `to`, reset to its
// initial state; (iconv_t)-1 when iconv does not know the pair.
iconv_t ThreadIconv(const std::string& to, const std::string& from);

}  // namespace sim
