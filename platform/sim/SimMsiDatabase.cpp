#include "platform/sim/SimMsiDatabase.h"

#include <array>
#include <cstring>
#include <fstream>
#include <system_error>
#include <filesystem>

#include <libmsi.h>

#include "platform/Types.h"
#include "platform/sim/Utf8.h"

namespace sim {
namespace {

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object) g_object_unref(object);
    }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// A GError out-parameter that frees whatever libmsi left in it.
class GErrorSlot {
public:
    GErrorSlot() = default;
    GErrorSlot(const GErrorSlot&) = delete;
    GErrorSlot& operator=(const GErrorSlot&) = delete;
    ~GErrorSlot() { Clear(); }
    GError** Out() {
        Clear();
        return &error_;
    }
    bool Failed() const { return error_ != nullptr; }
    void Clear() {
        if (error_) g_error_free(error_);
        error_ = nullptr;
    }

private:
    GError* error_ = nullptr;
};

std::wstring TakeString(gchar* text) {
    if (!text) return std::wstring();
    std::wstring wide = FromUtf8(text);
    g_free(text);
    return wide;
}

// Every installer package is an OLE compound file; anything else is refused
// before libmsi sees it, as msi.dll refuses it.
bool HasCompoundFileSignature(const std::string& hostPath) {
    static constexpr std::array<unsigned char, 8> kSignature{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::ifstream in(hostPath, std::ios::binary);
    std::array<char, 8> head{};
    if (!in.read(head.data(), head.size())) return false;
    return std::memcmp(head.data(), kSignature.data(), kSignature.size()) == 0;
}

class LibmsiRecordRow final : public platform::IMsiRecord {
public:
    explicit LibmsiRecordRow(GObjectPtr<LibmsiRecord> record) : record_(std::move(record)) {}

    std::wstring GetString(unsigned field) const override {
        if (!Valid(field) || libmsi_record_is_null(record_.get(), field)) return std::wstring();
        return TakeString(libmsi_record_get_string(record_.get(), field));
    }

    int GetInteger(unsigned field) const override {
        if (!Valid(field) || libmsi_record_is_null(record_.get(), field)) return kMsiNullInteger;
        return libmsi_record_get_int(record_.get(), field);
    }

private:
    // Field 0 is the format field, which no query fills.
    bool Valid(unsigned field) const {
        return field >= 1 && field <= libmsi_record_get_field_count(record_.get());
    }

    GObjectPtr<LibmsiRecord> record_;
};

class LibmsiView final : public platform::IMsiView {
public:
    explicit LibmsiView(GObjectPtr<LibmsiQuery> query) : query_(std::move(query)) {}

    uint32_t Execute() override {
        GErrorSlot error;
        if (!libmsi_query_execute(query_.get(), nullptr, error.Out())) return kErrFunctionFailed;
        executed_ = true;
        return platform::kErrSuccess;
    }

    uint32_t Fetch(std::unique_ptr<platform::IMsiRecord>& record) override {
        record.reset();
        if (!executed_) return kErrFunctionFailed;
        GErrorSlot error;
        // libmsi marks the end of the rows with an error of its own; a
        // query over read-only tables has no other way to fail here.
        GObjectPtr<LibmsiRecord> row(libmsi_query_fetch(query_.get(), error.Out()));
        if (!row) return platform::kErrNoMoreItems;
        record = std::make_unique<LibmsiRecordRow>(std::move(row));
        return platform::kErrSuccess;
    }

private:
    GObjectPtr<LibmsiQuery> query_;
    bool executed_ = false;
};

class LibmsiPackage final : public platform::IMsiDatabase {
public:
    explicit LibmsiPackage(GObjectPtr<LibmsiDatabase> database) : database_(std::move(database)) {}

    uint32_t OpenView(const std::wstring& sql, std::unique_ptr<platform::IMsiView>& view) override {
        view.reset();
        GErrorSlot error;
        GObjectPtr<LibmsiQuery> query(libmsi_query_new(database_.get(), ToUtf8(sql).c_str(), error.Out()));
        // msi.dll gives the same code for a misspelt statement and for an
        // unknown table or column.
        if (!query) return kErrBadQuerySyntax;
        view = std::make_unique<LibmsiView>(std::move(query));
        return platform::kErrSuccess;
    }

    PackageSummary Summary() const {
        PackageSummary summary;
        GErrorSlot error;
        GObjectPtr<LibmsiSummaryInfo> info(libmsi_summary_info_new(database_.get(), 0, error.Out()));
        if (!info) return summary;
        summary.platformTemplate = ReadString(info.get(), LIBMSI_PROPERTY_TEMPLATE);
        summary.revisionNumber = ReadString(info.get(), LIBMSI_PROPERTY_UUID);
        return summary;
    }

private:
    static std::wstring ReadString(LibmsiSummaryInfo* info, LibmsiProperty property) {
        GErrorSlot error;
        if (libmsi_summary_info_get_property_type(info, property, error.Out()) != LIBMSI_PROPERTY_TYPE_STRING) {
            return std::wstring();
        }
        const gchar* text = libmsi_summary_info_get_string(info, property, error.Out());  // owned by `info`
        return text ? FromUtf8(text) : std::wstring();
    }

    GObjectPtr<LibmsiDatabase> database_;
};

}  // namespace

uint32_t OpenPackage(const Machine& machine, const std::wstring& winPath,
                     std::unique_ptr<platform::IMsiDatabase>& database, PackageSummary* summary) {
    database.reset();
    std::string host;
    std::error_code ec;
    if (!machine.Resolve(winPath, host) || !std::filesystem::is_regular_file(host, ec)) return kErrOpenFailed;
    if (!HasCompoundFileSignature(host)) return platform::kErrInstallPackageInvalid;
    GErrorSlot error;
    GObjectPtr<LibmsiDatabase> opened(
        libmsi_database_new(host.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, error.Out()));
    // A compound file that is no database (a Word document, say).
    if (!opened) return platform::kErrInstallPackageInvalid;
    auto package = std::make_unique<LibmsiPackage>(std::move(opened));
    if (summary) *summary = package->Summary();
    database = std::move(package);
    return platform::kErrSuccess;
}

}  // namespace sim
