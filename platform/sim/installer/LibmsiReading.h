// The libmsi calls the simulated machine reads packages with, shared by the
// in-process reader (SimMsiDatabase.cpp) and the package check child
// (pkgcheck/), so that the child drives libmsi exactly as the reader will.
// Only .cpp files include this: it brings in libmsi's and GLib's headers.
#pragma once

#include <memory>
#include <string>

#include <libmsi.h>

namespace sim::libmsi {

// MSI_NULL_INTEGER, what MsiRecordGetInteger gives for a null field.
constexpr int kNullInteger = static_cast<int>(0x80000000u);

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
    void Clear() {
        if (error_) g_error_free(error_);
        error_ = nullptr;
    }

private:
    GError* error_ = nullptr;
};

// MsiOpenDatabaseW(path, MSIDBOPEN_READONLY); null for a file that is no
// database.
inline GObjectPtr<LibmsiDatabase> OpenReadOnly(const std::string& path) {
    GErrorSlot error;
    return GObjectPtr<LibmsiDatabase>(
        libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, error.Out()));
}

// The summary information fields the installer acts on, in UTF-8.
struct SummaryText {
    std::string platformTemplate;  // "x64;1033", "Intel;1033"
    std::string revisionNumber;    // the package code
};

inline std::string SummaryString(LibmsiSummaryInfo* info, LibmsiProperty property) {
    GErrorSlot error;
    if (libmsi_summary_info_get_property_type(info, property, error.Out()) != LIBMSI_PROPERTY_TYPE_STRING) {
        return std::string();
    }
    const gchar* text = libmsi_summary_info_get_string(info, property, error.Out());  // owned by `info`
    return text ? std::string(text) : std::string();
}

// Empty fields when the package has no summary stream.
inline SummaryText ReadSummary(LibmsiDatabase* database) {
    SummaryText summary;
    GErrorSlot error;
    GObjectPtr<LibmsiSummaryInfo> info(libmsi_summary_info_new(database, 0, error.Out()));
    if (!info) return summary;
    summary.platformTemplate = SummaryString(info.get(), LIBMSI_PROPERTY_TEMPLATE);
    summary.revisionNumber = SummaryString(info.get(), LIBMSI_PROPERTY_UUID);
    return summary;
}

// MsiDatabaseOpenViewW; null for a misspelt statement or an unknown table
// or column.
inline GObjectPtr<LibmsiQuery> Prepare(LibmsiDatabase* database, const std::string& sql) {
    GErrorSlot error;
    return GObjectPtr<LibmsiQuery>(libmsi_query_new(database, sql.c_str(), error.Out()));
}

inline bool Execute(LibmsiQuery* query) {
    GErrorSlot error;
    return libmsi_query_execute(query, nullptr, error.Out());
}

// The next row; null after the last one. libmsi marks the end of the rows
// with an error of its own; a query over read-only tables has no other way
// to fail here.
inline GObjectPtr<LibmsiRecord> Fetch(LibmsiQuery* query) {
    GErrorSlot error;
    return GObjectPtr<LibmsiRecord>(libmsi_query_fetch(query, error.Out()));
}

// Field 0 is the format field, which no query fills.
inline bool HasField(const LibmsiRecord* record, unsigned field) {
    return field >= 1 && field <= libmsi_record_get_field_count(record);
}

// The whole text of a field; empty for a null field or a bad index.
inline std::string FieldString(const LibmsiRecord* record, unsigned field) {
    if (!HasField(record, field) || libmsi_record_is_null(record, field)) return std::string();
    gchar* text = libmsi_record_get_string(record, field);
    if (!text) return std::string();
    std::string copy(text);
    g_free(text);
    return copy;
}

// kNullInteger for a null field or a bad index.
inline int FieldInteger(const LibmsiRecord* record, unsigned field) {
    if (!HasField(record, field) || libmsi_record_is_null(record, field)) return kNullInteger;
    return libmsi_record_get_int(record, field);
}

}  // namespace sim::libmsi
