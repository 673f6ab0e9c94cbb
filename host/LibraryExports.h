// The library's plain exports as the host finds them: by their decorated
// names, the same for both Windows targets and the Linux build (one C++ ABI
// throughout), with the signatures the public header declares.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/HostContext.h"

namespace exports {

constexpr const char* kGetAllInstallProductInfo = "_Z24GetAllInstallProductInfoB5cxx11v";
constexpr const char* kQueryItunesService = "_Z18QueryItunesServiceRSt6vectorI23ST_MSI_PRODUCT_RAW_DATASaIS0_EE";
constexpr const char* kQueryProductService = "_Z19QueryProductServiceB5cxx11i";
constexpr const char* kInstallProduct = "_Z14InstallProductNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEEPi";
constexpr const char* kUninstallProduct =
    "_Z16UninstallProductiNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEEPi";
constexpr const char* kGetAllItunesTypeInfoMap = "_Z23GetAllItunesTypeInfoMapv";

using GetAllInstallProductInfoFn = std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA>*(BRISALEN_CDECL*)();
using QueryItunesServiceFn = bool(BRISALEN_CDECL*)(std::vector<ST_MSI_PRODUCT_RAW_DATA>&);
using QueryProductServiceFn = std::vector<std::wstring>*(BRISALEN_CDECL*)(int);
using InstallProductFn = bool(BRISALEN_CDECL*)(std::wstring, int*);
using UninstallProductFn = bool(BRISALEN_CDECL*)(int, std::wstring, int*);
using GetAllItunesTypeInfoMapFn = void*(BRISALEN_CDECL*)();

// Null after the host has said why.
template <typename Function>
Function Find(HostContext& host, const char* name) {
    return reinterpret_cast<Function>(host.Export(name));
}

// The family's products as QueryItunesService lists them (one load of the
// installer's product list); false when the export is missing.
bool FamilyProducts(HostContext& host, std::vector<ST_MSI_PRODUCT_RAW_DATA>& products);

}  // namespace exports
