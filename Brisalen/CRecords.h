// The C interface's records made from the C++ ones. The C record points into
// `block`, which must outlive it: a block on the stack for a callback's
// record, a handed-out block for a returned one.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Brisalen/CRecordBlock.h"
#include "Brisalen/UserDataDeletionPlan.h"
#include "include/Brisalen.h"
#include "include/BrisalenC.h"

// A C truth value: 1 or 0.
inline int32_t ToCTruth(bool value) { return value ? 1 : 0; }

BRISALEN_CHECK_INFO ToCRecord(const ST_MSI_PRODUCT_UI_INFO& info, CRecordBlock& block);
BRISALEN_REPAIR_INFO ToCRecord(const ST_REPAIR_PROGRESS_INFO& info, CRecordBlock& block);
BRISALEN_UNINSTALL_INFO ToCRecord(const ST_ONEKEY_UNINSTALL_INFO& info, CRecordBlock& block);
BRISALEN_INSTALL_INFO ToCRecord(const ST_ONEKEY_INSTALL_INFO& info, CRecordBlock& block);
BRISALEN_USER_DATA_ITEM ToCRecord(const ST_ITUNES_USER_DATA_ITEM& item, CRecordBlock& block);
BRISALEN_SCAN_PROGRESS ToCRecord(const ST_ITUNES_SCAN_PROGRESS& progress);
BRISALEN_DELETE_INFO ToCRecord(const ST_ITUNES_DELETE_INFO& info, CRecordBlock& block);
BRISALEN_PRODUCT ToCRecord(const std::wstring& code, const ST_MSI_PRODUCT_RAW_DATA& product, CRecordBlock& block);
BRISALEN_PATH_LIST ToCRecord(const std::vector<UserDataFileSetEntry>& entries, CRecordBlock& block);

void FillGroupList(const ItunesTypeInfoMap& groups, BRISALEN_GROUP_LIST& list, CRecordBlock& block);

// The C++ form of what a C host passed in.
ST_MSI_PRODUCT_UI_INFO FromCRecord(const BRISALEN_CHECK_INFO& info);
std::vector<int32_t> FromCArray(const int32_t* values, uint32_t count);
// Null reads as empty.
std::wstring FromCString(const wchar_t* text);
