#include "host/SessionCommand.h"

#include <iostream>
#include <string>

namespace {

// Printed after each command's own output, on a line of its own, so the
// driver knows where one answer ends; the number is the command's exit code.
constexpr char kEndOfCommand[] = "== brisalen session: exit ";

// Fields are separated by tabs, which no Windows path or command argument
// of this host holds, so nothing needs quoting. A carriage return that a
// Windows-side writer left at the end of the line is not part of the
// last field.
std::vector<std::string> SplitFields(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    size_t start = 0;
    while (start <= line.size()) {
        const size_t tab = line.find('\t', start);
        const size_t end = tab == std::string::npos ? line.size() : tab;
        if (end > start) fields.push_back(line.substr(start, end - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return fields;
}

int RunSession(HostContext& host) {
    std::string line;
    int lastExit = 0;
    while (std::getline(std::cin, line)) {
        std::vector<std::string> fields = SplitFields(line);
        if (fields.empty()) continue;
        if (fields.front() == "session") {
            std::cerr << "brisalen: a session cannot start another session\n";
            lastExit = 2;
        } else {
            lastExit = RunCommandLine(host, fields);
        }
        std::cerr.flush();
        std::cout << kEndOfCommand << lastExit << std::endl;
    }
    return lastExit;
}

}  // namespace

void AddSessionCommand(CLI::App& app, HostAction& action) {
    app.add_subcommand("session",
                       "run commands read from standard input, one per line with tab-separated arguments, in this "
                       "one process; after each, a line \"== brisalen session: exit N\"")
        ->callback([&action] { action = RunSession; });
}
