#include "platform/sim/installer/SimMsiDatabase.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "platform/Types.h"
#include "platform/sim/installer/LibmsiReading.h"
#include "platform/sim/installer/PackageFile.h"
#include "platform/sim/installer/PackageGuard.h"
#include "platform/sim/installer/PackageQueries.h"
#include "platform/sim/Utf8.h"

namespace sim {
namespace {

using libmsi::GObjectPtr;

// Every installer package is an OLE compound file; anything else is refused
// before libmsi sees it, as msi.dll refuses it.
bool HasCompoundFileSignature(const PackageFile& file) {
    static constexpr std::array<unsigned char, 8> kSignature{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    const std::string head = file.Head(kSignature.size());
    return head.size() == kSignature.size() && std::memcmp(head.data(), kSignature.data(), kSignature.size()) == 0;
}

class LibmsiRecordRow final : public platform::IMsiRecord {
public:
    explicit LibmsiRecordRow(GObjectPtr<LibmsiRecord> record) : record_(std::move(record)) {}

    std::wstring GetString(unsigned field) const override {
        return FromUtf8(libmsi::FieldString(record_.get(), field));
    }
    int GetInteger(unsigned field) const override { return libmsi::FieldInteger(record_.get(), field); }

private:
    GObjectPtr<LibmsiRecord> record_;
};

class LibmsiView final : public platform::IMsiView {
public:
    explicit LibmsiView(GObjectPtr<LibmsiQuery> query) : query_(std::move(query)) {}

    uint32_t Execute() override {
        if (!libmsi::Execute(query_.get())) return kErrFunctionFailed;
        executed_ = true;
        return platform::kErrSuccess;
    }

    platform::Result<std::unique_ptr<platform::IMsiRecord>> Fetch() override {
        if (!executed_) return platform::Failure(kErrFunctionFailed);
        GObjectPtr<LibmsiRecord> row = libmsi::Fetch(query_.get());
        if (!row) return platform::Failure(platform::kErrNoMoreItems);
        return std::make_unique<LibmsiRecordRow>(std::move(row));
    }

private:
    GObjectPtr<LibmsiQuery> query_;
    bool executed_ = false;
};

// An open package. libmsi reads it through the descriptor its check read it
// by, which stays open as long as the database.
class LibmsiPackage final : public platform::IMsiDatabase {
public:
    LibmsiPackage(PackageFile file, std::wstring shownAs, std::string machineFolder,
                  GObjectPtr<LibmsiDatabase> database)
        : file_(std::move(file)),
          shownAs_(std::move(shownAs)),
          machineFolder_(std::move(machineFolder)),
          database_(std::move(database)) {
        const std::vector<std::string>& checked = QueriesCheckedAtOpen();
        checked_.insert(checked.begin(), checked.end());
    }

    platform::Result<std::unique_ptr<platform::IMsiView>> OpenView(const std::wstring& sql) override {
        const std::string text = ToUtf8(sql);
        if (!checked_.count(text)) {
            // A query the check at open did not run is checked on its own first.
            if (AdmitPackage(file_, {text}, shownAs_, machineFolder_) != platform::kErrSuccess) {
                return platform::Failure(platform::kErrInstallPackageInvalid);
            }
            checked_.insert(text);
        }
        GObjectPtr<LibmsiQuery> query = libmsi::Prepare(database_.get(), text);
        // msi.dll gives the same code for a misspelt statement and for an
        // unknown table or column.
        if (!query) return platform::Failure(kErrBadQuerySyntax);
        return std::make_unique<LibmsiView>(std::move(query));
    }

    PackageSummary Summary() const {
        const libmsi::SummaryText text = libmsi::ReadSummary(database_.get());
        return PackageSummary{FromUtf8(text.platformTemplate), FromUtf8(text.revisionNumber)};
    }

private:
    PackageFile file_;
    std::wstring shownAs_;
    std::string machineFolder_;
    std::set<std::string> checked_;
    GObjectPtr<LibmsiDatabase> database_;  // after file_: closed before the descriptor
};

}  // namespace

uint32_t OpenPackage(const Machine& machine, const std::wstring& winPath,
                     std::unique_ptr<platform::IMsiDatabase>& database, PackageSummary* summary) {
    database.reset();
    std::string host;
    std::error_code ec;
    if (!machine.Resolve(winPath, host) || !std::filesystem::is_regular_file(host, ec)) return kErrOpenFailed;
    PackageFile file;
    if (!file.Open(host)) return kErrOpenFailed;
    if (!HasCompoundFileSignature(file)) return platform::kErrInstallPackageInvalid;
    if (AdmitPackage(file, QueriesCheckedAtOpen(), winPath, machine.Folder()) != platform::kErrSuccess) {
        return platform::kErrInstallPackageInvalid;
    }
    GObjectPtr<LibmsiDatabase> opened = libmsi::OpenReadOnly(file.ReadPath());
    // A compound file that is no database (a Word document, say).
    if (!opened) return platform::kErrInstallPackageInvalid;
    auto package = std::make_unique<LibmsiPackage>(std::move(file), winPath, machine.Folder(), std::move(opened));
    if (summary) *summary = package->Summary();
    database = std::move(package);
    return platform::kErrSuccess;
}

}  // namespace sim
