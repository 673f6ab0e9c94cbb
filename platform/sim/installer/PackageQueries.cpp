#include "platform/sim/installer/PackageQueries.h"

#include <algorithm>

#include "platform/NoDestructor.h"
#include "platform/sim/Utf8.h"

namespace sim {

std::wstring sql::TableProbe(const std::wstring& select) {
    const size_t from = select.find(L" FROM ");
    if (from == std::wstring::npos) return std::wstring();
    const size_t start = from + 6;
    const std::wstring table = select.substr(start, select.find(L' ', start) - start);
    return L"SELECT Name FROM _Tables WHERE Name = '" + table + L"'";
}

const std::vector<std::string>& QueriesCheckedAtOpen() {
    static const platform::NoDestructor<std::vector<std::string>> queries([] {
        std::vector<std::string> all;
        for (const wchar_t* select :
             {sql::kProperty, sql::kDirectory, sql::kCustomAction, sql::kExecuteSequence, sql::kComponent, sql::kFile,
              sql::kCreateFolder, sql::kServiceInstall, sql::kServiceControl, sql::kRegistry}) {
            all.push_back(ToUtf8(sql::TableProbe(select)));
            all.push_back(ToUtf8(select));
        }
        for (const char* select :
             {"SELECT Directory, Directory_Parent ,DefaultDir FROM Directory",
              "SELECT Component, Directory_ ,KeyPath,Condition FROM Component",
              "SELECT File,FileSize,Component_,FileName FROM File", "SELECT Name  FROM ServiceInstall",
              "SELECT Value FROM Property WHERE Property = 'ProductCode'",
              "SELECT Value FROM Property WHERE Property = 'ProductName'",
              "SELECT Value FROM Property WHERE Property = 'ProductVersion'"}) {
            if (std::find(all.begin(), all.end(), select) == all.end()) all.push_back(select);
        }
        return all;
    }());
    return *queries;
}

}  // namespace sim
