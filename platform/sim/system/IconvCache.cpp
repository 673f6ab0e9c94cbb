#include "platform/sim/system/IconvCache.h"

#include <map>
#include <utility>

namespace sim {

namespace {

const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);

class Descriptor {
public:
    explicit Descriptor(iconv_t cd) : cd_(cd) {}
    ~Descriptor() {
        if (cd_ != kInvalid) iconv_close(cd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    iconv_t Get() const { return cd_; }

private:
    iconv_t cd_;
};

}  // namespace

iconv_t ThreadIconv(const std::string& to, const std::string& from) {
    thread_local std::map<std::pair<std::string, std::string>, Descriptor> cache;
    auto it = cache.find({to, from});
    if (it == cache.end()) {
        it = cache
                 .emplace(std::piecewise_construct, std::forward_as_tuple(to, from),
                          std::forward_as_tuple(iconv_open(to.c_str(), from.c_str())))
                 .first;
    }
    const iconv_t cd = it->second.Get();
    if (cd != kInvalid) iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return cd;
}

}  // namespace sim
