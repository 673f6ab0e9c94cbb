// ICodePages on iconv, with the machine's ANSI and OEM pages behind CP_ACP
// and CP_OEMCP.
#pragma once

#include <memory>

#include "platform/CodePages.h"
#include "platform/sim/Api.h"
#include "platform/sim/store/Machine.h"

namespace sim {

class SIM_API SimCodePages : public platform::ICodePages {
public:
    explicit SimCodePages(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}

    std::string FromWide(uint32_t codePage, const std::wstring& text) override;
    std::wstring ToWide(uint32_t codePage, const std::string& text) override;

private:
    uint32_t Effective(uint32_t codePage) const;
    std::shared_ptr<Machine> machine_;
};

}  // namespace sim
