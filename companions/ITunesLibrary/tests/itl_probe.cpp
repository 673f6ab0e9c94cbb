// Drives ITunesLibrary.dll on the real Win32 file functions: links against
// the import library (the exported class) and loads the C factory pair at
// run time. Prints one line per failed check; the exit code is the number
// of failures.
// Usage: itl_probe.exe FOLDER   (FOLDER holds "iTunes Library.itl" written
// by make_library.py)
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ITunesLibrary.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::printf("FAILED: %s\n", what);
        ++g_failures;
    }
}

std::string Slurp(const std::wstring& path) {
    std::string bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return "<missing>";
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    std::fclose(file);
    return bytes;
}

void Put(const std::wstring& path, const std::string& bytes) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

std::vector<std::wstring> Names(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

struct Seen {
    std::vector<int> states;
    std::vector<std::string> texts;
    std::vector<void*> handles;
};

bool Record(ITL::eEnumAndDeleteItunesState state, std::string text, void* block, void* context) {
    Seen& seen = *static_cast<Seen*>(context);
    seen.states.push_back(state);
    seen.texts.push_back(text);
    seen.handles.push_back(block);
    return true;
}

Seen Enumerate(ITL::IITunesLibrary& library) {
    Seen seen;
    library.EnumMediaBlock(Record, &seen);
    return seen;
}

void* HandleOf(const Seen& seen, const std::string& location) {
    for (size_t i = 0; i < seen.states.size(); ++i)
        if (seen.states[i] == 1 && seen.texts[i] == location) return seen.handles[i];
    return nullptr;
}

// Reads the sample, removes a track, writes it back with a .bak.
void ProbeRoundTrip(ITL::IITunesLibrary& library, const std::wstring& folder, const std::wstring& file) {
    const std::string original = Slurp(file);
    const std::string local = "file://localhost/C:/Music/a%20b.mp3";
    const std::string nonAscii =
        "file://localhost/C:/Musik/%C3%84rger%20&%20%CE%A9/Stra\xC3\x9F" "e \xC3\x84 \xCE\xA9 \xE2\x99\xAB.m4a";
    Check(library.Read(file) == ITL::ITL_SE_OK, "read the sample");
    Seen seen = Enumerate(library);
    Check(seen.states.size() == 6 && seen.states.front() == 0 && seen.states.back() == 2, "begin, 4 entries, end");
    Check(HandleOf(seen, nonAscii) != nullptr, "non-ASCII location as stored");
    Check(library.RemoveMediaBlock(HandleOf(seen, local)), "remove a track");
    Check(library.Write(file) == ITL::ITL_SE_OK, "write over the file");
    Check(Slurp(file + L".bak") == original, ".bak holds the old file");
    Check(Names(folder).size() == 2, "no temporary left");
    ITL::IITunesLibrary reread;
    Check(reread.Read(file) == ITL::ITL_SE_OK && Enumerate(reread).states.size() == 5, "re-read");
}

// Writes that must change nothing: hostile targets, a read-only target and
// one held open by another program.
void ProbeRefusedWrites(ITL::IITunesLibrary& library, const std::wstring& folder, const std::wstring& file) {
    // A drive root, the Windows folder, a parent folder, a missing folder.
    const std::string written = Slurp(file);
    for (const std::wstring& target : {std::wstring(L"C:\\"), std::wstring(L"C:\\windows"),
                                       std::wstring(L"C:\\windows\\"), folder + L"\\..", folder + L"\\.",
                                       folder + L"\\missing\\x.itl", folder + L"\\"}) {
        Check(library.Write(target) == ITL::ITL_SE_WRITE_FAILED, "hostile target refused");
    }
    Check((GetFileAttributesW(L"C:\\windows") & FILE_ATTRIBUTE_DIRECTORY) != 0, "Windows folder intact");
    Check(GetFileAttributesW(L"C:\\windows\\system32\\kernel32.dll") != INVALID_FILE_ATTRIBUTES,
          "Windows folder content intact");
    Check(Slurp(file) == written && Names(folder).size() == 2, "folder unchanged after hostile targets");

    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    Check(library.Write(file) == ITL::ITL_SE_READ_ONLY, "read-only target refused");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    Check(Slurp(file) == written && Names(folder).size() == 2, "read-only target unchanged");

    // As the player holds its library: the old file stays, the temporary goes.
    HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    Check(held != INVALID_HANDLE_VALUE, "hold the target");
    Check(library.Write(file) == ITL::ITL_SE_IN_USE, "held target refused");
    CloseHandle(held);
    Check(Slurp(file) == written && Names(folder).size() == 2, "held target unchanged, no temporary");
}

void ProbeBinaryLibrary(const std::wstring& folder) {
    const std::wstring binary = folder + L"\\binary.itl";
    const std::string hdfm = std::string("hdfm\0\0\0\x9c", 8) + "rest";
    Put(binary, hdfm);
    ITL::IITunesLibrary library;
    Check(library.Read(binary) == ITL::ITL_SE_UNSUPPORTED_FORMAT, "binary library refused");
    Check(library.Write(binary) == ITL::ITL_SE_NOT_LOADED, "no write after a refused read");
    Check(Slurp(binary) == hdfm, "binary library unchanged");
}

// The C factory pair, found the way a run-time loader finds it.
void ProbeFactoryPair(const std::wstring& folder, const std::wstring& file) {
    using Create = ITL::IITunesLibrary* (*)();
    using Destroy = void (*)(ITL::IITunesLibrary*);
    HMODULE module = LoadLibraryW(L"ITunesLibrary.dll");
    Check(module != nullptr, "load the DLL");
    if (!module) return;
    auto create = reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(module, "CreateITunesLibrary")));
    auto destroy = reinterpret_cast<Destroy>(reinterpret_cast<void*>(GetProcAddress(module, "DestroyITunesLibrary")));
    Check(create && destroy, "factory pair exported");
    if (create && destroy) {
        ITL::IITunesLibrary* library = create();
        const std::wstring fresh = folder + L"\\Neu \u00c4.itl";
        Check(library->Append(L"file://localhost/C:/\u266b.mp3", ITL::ITL_SE_MEDIA_MUSIC, L"x") == ITL::ITL_SE_OK,
              "append");
        Check(library->Write(fresh) == ITL::ITL_SE_OK, "write a new library");
        Check(library->Write(file) == ITL::ITL_SE_WOULD_OVERWRITE, "fresh object never overwrites");
        destroy(library);
        ITL::IITunesLibrary reread;
        Check(reread.Read(fresh) == ITL::ITL_SE_OK &&
                  HandleOf(Enumerate(reread), "file://localhost/C:/\xE2\x99\xAB.mp3") != nullptr,
              "new library re-read");
    }
    FreeLibrary(module);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 100;
    const std::wstring folder = argv[1];
    const std::wstring file = folder + L"\\iTunes Library.itl";
    {
        ITL::IITunesLibrary library;
        ProbeRoundTrip(library, folder, file);
        ProbeRefusedWrites(library, folder, file);
    }
    ProbeBinaryLibrary(folder);
    ProbeFactoryPair(folder, file);
    std::printf("%d failure(s)\n", g_failures);
    return g_failures;
}
