// brisalen-package-check: reads one installer package the way the simulated
// machine's package reader does, in a process of its own. libmsi faults on
// some damaged packages; the simulated machine runs this first and only
// lets libmsi near a package in its own process when this one got through.
//
//   brisalen-package-check [--memory-mib N] [--report-fd FD] PACKAGE [SQL...]
//
// Opens PACKAGE read-only, reads its summary information, and runs each SQL
// query: executes it, fetches every row and reads every field as text and
// as a number. A query libmsi refuses (bad syntax, unknown table) is fine:
// the reader is refused the same way. When everything has run it writes
// "sound" to FD (default: standard output) and exits 0. Any other ending (a
// signal, a sanitizer's exit, being killed for taking too long) means the
// package must not be read in-process.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/installer/LibmsiReading.h"
#include "platform/sim/Sanitizer.h"

#if defined(__SANITIZE_ADDRESS__)
#define PACKAGE_CHECK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PACKAGE_CHECK_UNDER_ASAN 1
#endif
#endif

#if defined(PACKAGE_CHECK_UNDER_ASAN)
// A fault inside libmsi is an expected answer here, not a finding: let it
// end the process by its signal at once instead of a slow report. Leaks of
// GLib's type tables at exit are no concern of a process that lives for one
// package.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "detect_leaks=0:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:"
           "symbolize=0";
}
#endif

namespace {

constexpr int kUsage = 2;

struct Options {
    unsigned long memoryMiB = 0;  // 0: no limit
    int reportFd = STDOUT_FILENO;
    std::string package;
    std::vector<std::string> queries;
};

bool ParseNumber(const char* text, unsigned long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

bool Parse(int argc, char** argv, Options& options) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        unsigned long number = 0;
        if (arg == "--memory-mib" && i + 1 < argc && ParseNumber(argv[i + 1], number)) {
            options.memoryMiB = number;
            ++i;
        } else if (arg == "--report-fd" && i + 1 < argc && ParseNumber(argv[i + 1], number) && number < 1024) {
            options.reportFd = static_cast<int>(number);
            ++i;
        } else {
            break;
        }
    }
    if (i >= argc) return false;
    options.package = argv[i++];
    for (; i < argc; ++i) options.queries.push_back(argv[i]);
    return true;
}

// A crash here is an answer, not something to keep: no core files. Memory
// is capped so a package that makes libmsi allocate without end fails here
// rather than in the reader. Sanitizer builds reserve terabytes of address
// space for their shadow memory, so only the time limit bounds them.
void LimitSelf(unsigned long memoryMiB) {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (memoryMiB == 0 || sim::RunningUnderSanitizer()) return;
    const rlim_t bytes = static_cast<rlim_t>(memoryMiB) << 20;
    const rlimit memory{bytes, bytes};
    setrlimit(RLIMIT_AS, &memory);
}

// Reads every field both ways, as the reader's records may be asked.
void ReadRows(LibmsiQuery* query) {
    while (sim::libmsi::GObjectPtr<LibmsiRecord> row = sim::libmsi::Fetch(query)) {
        const unsigned count = libmsi_record_get_field_count(row.get());
        for (unsigned field = 0; field <= count + 1; ++field) {
            sim::libmsi::FieldString(row.get(), field);
            sim::libmsi::FieldInteger(row.get(), field);
        }
    }
}

void Run(const Options& options) {
    sim::libmsi::GObjectPtr<LibmsiDatabase> database = sim::libmsi::OpenReadOnly(options.package);
    if (!database) return;  // the reader is refused the same way
    sim::libmsi::ReadSummary(database.get());
    for (const std::string& sql : options.queries) {
        sim::libmsi::GObjectPtr<LibmsiQuery> query = sim::libmsi::Prepare(database.get(), sql);
        if (query && sim::libmsi::Execute(query.get())) ReadRows(query.get());
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--memory-mib N] [--report-fd FD] PACKAGE [SQL...]\n", argv[0]);
        return kUsage;
    }
    LimitSelf(options.memoryMiB);
    Run(options);
    static const char kSound[] = "sound\n";
    if (write(options.reportFd, kSound, sizeof kSound - 1) != static_cast<ssize_t>(sizeof kSound - 1)) return 1;
    // Whatever GLib and libmsi would run at exit is no part of reading a
    // package; nothing of it should turn a sound verdict into a crash.
    _exit(0);
}
