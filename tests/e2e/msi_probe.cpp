// Reads two Windows Installer values longer than the first buffer the real
// back end offers, so both retries after ERROR_MORE_DATA run under Wine: a
// Property row of a package opened read-only, and a product's HelpLink.
// Prints each value whole; exits non-zero when a call fails.
//
//   msi_probe PACKAGE PROPERTY PRODUCT_CODE
#include <cstdio>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace {

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (; *text != '\0'; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return wide;
}

void Print(const char* label, const std::wstring& value) {
    std::string narrow;
    for (wchar_t c : value) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    std::printf("%s %s\n", label, narrow.c_str());
}

bool PropertyValue(const std::wstring& package, const std::wstring& property, std::wstring& value) {
    platform::IInstaller& installer = platform::Os().Installer();
    const auto database = installer.OpenDatabase(package);
    if (!database) return std::printf("open database: %u\n", database.Error()), false;
    const auto view = (*database)->OpenView(L"SELECT Value FROM Property WHERE Property = '" + property + L"'");
    uint32_t status = view.Error();
    if (status == 0) status = (*view)->Execute();
    if (status != 0) return std::printf("query: %u\n", status), false;
    const auto record = (*view)->Fetch();
    if (!record) return std::printf("fetch: %u\n", record.Error()), false;
    value = (*record)->GetString(1);
    const auto extra = (*view)->Fetch();
    if (extra.Error() != 259) return std::printf("second fetch: %u, expected 259\n", extra.Error()), false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: msi_probe PACKAGE PROPERTY PRODUCT_CODE\n");
        return 2;
    }
    std::wstring value;
    if (!PropertyValue(Widen(argv[1]), Widen(argv[2]), value)) return 1;
    Print("property", value);
    const uint32_t status = platform::Os().Installer().GetProductInfo(Widen(argv[3]), L"HelpLink", value);
    if (status != 0) return std::printf("product info: %u\n", status), 1;
    Print("helplink", value);
    return 0;
}
