/*
 * A host of Brisalen.dll through include/BrisalenC.h alone, with no C
 * runtime: kernel32 for output, the command line, events and the exit, and
 * nothing else. Built twice, by MinGW-w64 gcc and for the MSVC binary
 * interface by clang, so that both compilers' view of the header's records,
 * calling convention and decorated names meets the DLL.
 *
 * Every record the library hands over is printed as one line of
 * tab-separated fields, the record's kind first, then key=value fields,
 * UTF-8, paths verbatim (a control character in a value is written as '?',
 * which no Windows path holds). Commands may be chained with "+" so a
 * 32-bit host under an emulator starts once for all of them; each one's
 * output lies between "begin" and "end" lines, and the process exits with
 * the first nonzero command result.
 *
 *   version | check | scan [--deep] | preview-uninstall [--user-data]
 *   preview-delete [--deep] [--backups] CATEGORY... | preview-repair FOLDER|--bad|--none
 *   products
 *
 * Every list or string the library returns is handed back to BrisalenFree,
 * and a second BrisalenFree of it must answer 0.
 *
 * Written for C89 and C99 alike: no // comments, declarations first, no
 * long long literals, no 64-bit division (on i686 that would be a runtime
 * call), no frame large enough for a stack probe, no struct copies.
 */
#include "BrisalenC.h"

/* --------------------------------------------------------------------------
 * kernel32, declared here: there is no Windows SDK for the MSVC build. */

#if defined(_MSC_VER) || defined(__MINGW32__) || defined(_WIN32)
#define HOST_WINAPI __stdcall
#define HOST_IMPORT __declspec(dllimport)
#else
#error "a Windows host"
#endif

typedef void* HOST_HANDLE;
HOST_IMPORT HOST_HANDLE HOST_WINAPI GetStdHandle(uint32_t nStdHandle);
HOST_IMPORT int HOST_WINAPI WriteFile(HOST_HANDLE hFile, const void* pBuffer, uint32_t nBytes, uint32_t* pWritten,
                                      void* pOverlapped);
HOST_IMPORT wchar_t* HOST_WINAPI GetCommandLineW(void);
HOST_IMPORT void HOST_WINAPI ExitProcess(uint32_t uExitCode);
HOST_IMPORT HOST_HANDLE HOST_WINAPI CreateEventW(void* pAttributes, int bManualReset, int bInitialState,
                                                 const wchar_t* pszName);
HOST_IMPORT int HOST_WINAPI SetEvent(HOST_HANDLE hEvent);
HOST_IMPORT int HOST_WINAPI ResetEvent(HOST_HANDLE hEvent);
HOST_IMPORT uint32_t HOST_WINAPI WaitForSingleObject(HOST_HANDLE hHandle, uint32_t nMilliseconds);
HOST_IMPORT int HOST_WINAPI CloseHandle(HOST_HANDLE hObject);
HOST_IMPORT void HOST_WINAPI Sleep(uint32_t nMilliseconds);

#define HOST_STD_OUTPUT ((uint32_t)-11)
#define HOST_STD_ERROR ((uint32_t)-12)
#define HOST_WAIT_OBJECT_0 0u

/* A task that has not ended in this long counts as hung. */
#define HOST_TASK_TIMEOUT_MS 900000u
/* The library sends a task's final record before it frees the task's slot:
 * a preview or a task start right after it may be refused for a moment. */
#define HOST_RETRY_MS 5000u
#define HOST_RETRY_STEP_MS 10u

/* --------------------------------------------------------------------------
 * Output: one line buffer, written out whole with WriteFile. Only one
 * thread writes at a time: the main thread waits while a task's worker
 * reports. */

static char g_line[8192];
static uint32_t g_lineLength;
static HOST_HANDLE g_lineHandle;
static int g_failed;

static void out_flush(void) {
    uint32_t written = 0;
    uint32_t at = 0;
    while (at < g_lineLength) {
        if (!WriteFile(g_lineHandle, g_line + at, g_lineLength - at, &written, 0) || written == 0) break;
        at += written;
    }
    g_lineLength = 0;
}

static void out_byte(char c) {
    if (g_lineLength == sizeof(g_line)) out_flush();
    g_line[g_lineLength++] = c;
}

static void out_text(const char* text) {
    while (*text) out_byte(*text++);
}

/* UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD. */
static void out_wide(const wchar_t* text) {
    uint32_t c;
    if (text == 0) return;
    while (*text) {
        c = (uint16_t)*text++;
        if (c >= 0xD800 && c <= 0xDBFF && (uint16_t)*text >= 0xDC00 && (uint16_t)*text <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + ((uint16_t)*text++ - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x20) {
            out_byte('?');
        } else if (c < 0x80) {
            out_byte((char)c);
        } else if (c < 0x800) {
            out_byte((char)(0xC0 | (c >> 6)));
            out_byte((char)(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out_byte((char)(0xE0 | (c >> 12)));
            out_byte((char)(0x80 | ((c >> 6) & 0x3F)));
            out_byte((char)(0x80 | (c & 0x3F)));
        } else {
            out_byte((char)(0xF0 | (c >> 18)));
            out_byte((char)(0x80 | ((c >> 12) & 0x3F)));
            out_byte((char)(0x80 | ((c >> 6) & 0x3F)));
            out_byte((char)(0x80 | (c & 0x3F)));
        }
    }
}

/* Decimal of an unsigned 64-bit value by 16-bit limbs, each step a 32-bit
 * division, so that no 64-bit division helper is needed. */
static void out_u64(uint64_t value) {
    char digits[24];
    uint32_t limbs[4];
    int count = 0;
    int i;
    uint32_t rest;
    limbs[0] = (uint32_t)(value >> 48) & 0xFFFF;
    limbs[1] = (uint32_t)(value >> 32) & 0xFFFF;
    limbs[2] = (uint32_t)(value >> 16) & 0xFFFF;
    limbs[3] = (uint32_t)value & 0xFFFF;
    do {
        rest = 0;
        for (i = 0; i < 4; ++i) {
            uint32_t current = (rest << 16) | limbs[i];
            limbs[i] = current / 10;
            rest = current % 10;
        }
        digits[count++] = (char)('0' + rest);
    } while (limbs[0] | limbs[1] | limbs[2] | limbs[3]);
    while (count > 0) out_byte(digits[--count]);
}

static void out_i64(int64_t value) {
    if (value < 0) {
        out_byte('-');
        out_u64((uint64_t)0 - (uint64_t)value);
    } else {
        out_u64((uint64_t)value);
    }
}

static void rec_begin(const char* kind) {
    g_lineHandle = GetStdHandle(HOST_STD_OUTPUT);
    out_text(kind);
}

static void rec_end(void) {
    out_byte('\n');
    out_flush();
}

static void field_int(const char* key, int64_t value) {
    out_byte('\t');
    out_text(key);
    out_byte('=');
    out_i64(value);
}

static void field_text(const char* key, const char* value) {
    out_byte('\t');
    out_text(key);
    out_byte('=');
    out_text(value);
}

static void field_wide(const char* key, const wchar_t* value) {
    out_byte('\t');
    out_text(key);
    out_byte('=');
    out_wide(value);
}

/* Every entry of a string list as a field of its own, the same key each. */
static void field_list(const char* key, const BRISALEN_STRING_LIST* list) {
    uint32_t i;
    if (list->ppItems == 0) return;
    for (i = 0; i < list->nCount; ++i) field_wide(key, list->ppItems[i]);
}

/* A failure: a line on standard error, and the command's result. */
static int fail(const char* what, const char* why) {
    out_flush();
    g_lineHandle = GetStdHandle(HOST_STD_ERROR);
    out_text("brisalen_c_host: ");
    out_text(what);
    out_text(": ");
    out_text(why);
    out_byte('\n');
    out_flush();
    g_failed = 1;
    return 1;
}

/* Hands a pointer back; the library must take it once and refuse it after. */
static int give_back(const void* value, const char* what) {
    if (value == 0) return 0;
    if (BrisalenFree(value) != 1) return fail(what, "BrisalenFree did not take it back");
    if (BrisalenFree(value) != 0) return fail(what, "a second BrisalenFree of it did not answer 0");
    return 0;
}

/* --------------------------------------------------------------------------
 * Tasks: the final record sets the event the main thread waits on. */

static HOST_HANDLE g_taskEnd;

static int task_wait(const char* what) {
    uint32_t rc = WaitForSingleObject(g_taskEnd, HOST_TASK_TIMEOUT_MS);
    if (rc != HOST_WAIT_OBJECT_0) return fail(what, "no final record");
    return 0;
}

static void BRISALEN_CALL on_check(void* user, int32_t state, const BRISALEN_CHECK_INFO* info) {
    (void)user;
    rec_begin("check");
    field_int("state", state);
    if (info == 0) {
        field_text("info", "null");
        rec_end();
        g_failed = 1;
        if (state == BRISALEN_CHECK_ALL_COMPLETE) SetEvent(g_taskEnd);
        return;
    }
    if (state == BRISALEN_CHECK_ALL_COMPLETE) {
        field_int("to_repair", info->nRepairCount);
        field_int("need_package", info->bNeedPackage);
        field_int("installed", info->nInstalledCount);
        rec_end();
        SetEvent(g_taskEnd);
        return;
    }
    field_int("type", info->nType);
    field_wide("product", info->pszProductName);
    field_wide("version", info->pszVersion);
    field_int("checked_files", info->nCheckedFiles);
    field_int("need_package", info->bNeedPackage);
    field_wide("services", info->pszServices);
    field_wide("message", info->pszMessage);
    field_int("files", info->files.nCount);
    field_list("file", &info->files);
    rec_end();
}

static int cmd_check(void) {
    uint32_t waited = 0;
    ResetEvent(g_taskEnd);
    while (!BrisalenCheckAllItunesComponent(on_check, 0, 0)) {
        if (waited >= HOST_RETRY_MS) return fail("check", "the task did not start");
        Sleep(HOST_RETRY_STEP_MS);
        waited += HOST_RETRY_STEP_MS;
    }
    return task_wait("check");
}

/* The backups the last scan reported, for preview-delete --backups. */
#define HOST_MAX_BACKUPS 64
static int32_t g_backupIds[HOST_MAX_BACKUPS];
static uint32_t g_backupCount;
static int g_quietScan;

static int32_t BRISALEN_CALL on_enum(void* user, int32_t state, const BRISALEN_ENUM_INFO* info) {
    (void)user;
    if (info != 0 && info->item.bValid && g_backupCount < HOST_MAX_BACKUPS) {
        g_backupIds[g_backupCount++] = info->item.nId;
    }
    if (!g_quietScan) {
        rec_begin("enum");
        field_int("state", state);
        if (info != 0) {
            field_int("group", info->nGroup);
            field_int("group_count", info->nGroupCount);
            field_int("group_size", info->nGroupSize);
            field_int("category", info->nCategory);
            field_int("category_count", info->nCategoryCount);
            field_int("category_size", info->nCategorySize);
            if (info->pProgress != 0) {
                field_int("deep", info->pProgress->bDeepScan);
                field_int("scanned_dirs", info->pProgress->nScannedDir);
                field_int("total_dirs", info->pProgress->nTotalDir);
            }
            if (info->item.bValid) {
                field_int("backup_id", info->item.nId);
                field_int("backup_size", info->item.nSize);
                field_int("backup_seconds", info->item.nDate);
                field_wide("backup_date", info->item.pszDate);
                field_wide("device_id", info->item.pszDeviceId);
                field_wide("device_name", info->item.pszDeviceName);
                field_wide("ios_version", info->item.pszVersion);
                field_wide("path", info->item.pszPath);
            }
        }
        rec_end();
    }
    if (state == BRISALEN_ENUM_END) SetEvent(g_taskEnd);
    return 1;
}

static int run_scan(int deep) {
    uint32_t waited = 0;
    g_backupCount = 0;
    ResetEvent(g_taskEnd);
    while (!BrisalenEnumItunesUserData(on_enum, 0, deep, 0)) {
        if (waited >= HOST_RETRY_MS) return fail("scan", "the task did not start");
        Sleep(HOST_RETRY_STEP_MS);
        waited += HOST_RETRY_STEP_MS;
    }
    return task_wait("scan");
}

/* A query that shares the data of a task that has just ended may be
 * refused for the moment the task's worker needs to let go. */
typedef const void* (*host_query_fn)(const void* context);

static const void* query_when_free(host_query_fn query, const void* context) {
    uint32_t waited = 0;
    const void* result;
    while ((result = query(context)) == 0 && waited < HOST_RETRY_MS) {
        Sleep(HOST_RETRY_STEP_MS);
        waited += HOST_RETRY_STEP_MS;
    }
    return result;
}

static const void* query_groups(const void* context) {
    (void)context;
    return BrisalenGetAllItunesTypeInfo();
}

static int print_groups(void) {
    const BRISALEN_GROUP_LIST* groups = (const BRISALEN_GROUP_LIST*)query_when_free(query_groups, 0);
    uint32_t g, c;
    int64_t files = 0, bytes = 0;
    if (groups == 0) return fail("scan", "BrisalenGetAllItunesTypeInfo gave no list");
    for (g = 0; g < groups->nCount; ++g) {
        const BRISALEN_GROUP_INFO* group = &groups->pItems[g];
        rec_begin("group");
        field_int("group", group->nGroup);
        field_int("count", group->nCount);
        field_int("size", group->nSize);
        field_int("categories", group->nCategoryCount);
        rec_end();
        for (c = 0; c < group->nCategoryCount; ++c) {
            const BRISALEN_CATEGORY_INFO* category = &group->pCategories[c];
            rec_begin("category");
            field_int("group", group->nGroup);
            field_int("category", category->nCategory);
            field_int("count", category->nCount);
            field_int("size", category->nSize);
            field_list("folder", &category->folders);
            rec_end();
        }
        files += group->nCount;
        bytes += group->nSize;
    }
    rec_begin("groups");
    field_int("groups", groups->nCount);
    field_int("files", files);
    field_int("bytes", bytes);
    rec_end();
    return give_back(groups, "the group list");
}

static int cmd_scan(int deep) {
    g_quietScan = 0;
    if (run_scan(deep)) return 1;
    return print_groups();
}

static void print_path_list(const BRISALEN_PATH_LIST* paths, int64_t* fileBytes) {
    uint32_t i;
    *fileBytes = 0;
    for (i = 0; i < paths->nCount; ++i) {
        const BRISALEN_PATH_ENTRY* entry = &paths->pItems[i];
        rec_begin("path");
        field_int("folder", entry->bFolder);
        field_int("size", entry->nSize);
        field_wide("path", entry->pszPath);
        rec_end();
        *fileBytes += entry->nSize;
    }
}

static void print_string_list(const char* kind, const BRISALEN_STRING_LIST* list) {
    uint32_t i;
    if (list->ppItems == 0) return;
    for (i = 0; i < list->nCount; ++i) {
        rec_begin(kind);
        field_wide("path", list->ppItems[i]);
        rec_end();
    }
}

static const void* query_uninstall(const void* context) {
    return BrisalenPreviewOneKeyUninstall(*(const int32_t*)context);
}

static int cmd_preview_uninstall(int32_t userData) {
    const BRISALEN_UNINSTALL_PREVIEW* preview =
        (const BRISALEN_UNINSTALL_PREVIEW*)query_when_free(query_uninstall, &userData);
    uint32_t i;
    int64_t bytes;
    if (preview == 0) return fail("preview-uninstall", "BrisalenPreviewOneKeyUninstall gave no preview");
    for (i = 0; i < preview->nStepCount; ++i) {
        const BRISALEN_UNINSTALL_STEP* step = &preview->pSteps[i];
        rec_begin("step");
        field_int("type", step->nType);
        field_int("action", step->nAction);
        field_wide("product", step->pszProductName);
        field_wide("code", step->pszProductCode);
        field_wide("location", step->pszInstallLocation);
        rec_end();
    }
    print_string_list("residual", &preview->residualFolders);
    print_string_list("program", &preview->programs);
    print_string_list("user_data_folder", &preview->userDataFolders);
    print_path_list(&preview->paths, &bytes);
    rec_begin("uninstall_preview");
    field_int("steps", preview->nStepCount);
    field_int("residual", preview->residualFolders.nCount);
    field_int("programs", preview->programs.nCount);
    field_int("paths", preview->paths.nCount);
    field_int("bytes", bytes);
    field_int("user_data_folders", preview->userDataFolders.nCount);
    field_int("store", preview->bStoreEdition);
    rec_end();
    return give_back(preview, "the uninstall preview");
}

#define HOST_MAX_CATEGORIES 64
struct deletion_request {
    const int32_t* categories;
    uint32_t categoryCount;
    const int32_t* items;
    uint32_t itemCount;
};

static const void* query_deletion(const void* context) {
    const struct deletion_request* request = (const struct deletion_request*)context;
    return BrisalenPreviewUserDataDeletion(request->categories, request->categoryCount, request->items,
                                           request->itemCount);
}

static int cmd_preview_delete(const int32_t* categories, uint32_t count, int deep, int backups) {
    const BRISALEN_DELETION_PREVIEW* preview;
    struct deletion_request request;
    int64_t bytes;
    g_quietScan = 1;
    if (run_scan(deep)) return 1;
    request.categories = count ? categories : 0;
    request.categoryCount = count;
    request.items = backups && g_backupCount ? g_backupIds : 0;
    request.itemCount = backups ? g_backupCount : 0;
    preview = (const BRISALEN_DELETION_PREVIEW*)query_when_free(query_deletion, &request);
    if (preview == 0) return fail("preview-delete", "BrisalenPreviewUserDataDeletion gave no preview");
    print_path_list(&preview->paths, &bytes);
    rec_begin("deletion_preview");
    field_int("categories", count);
    field_int("backups", request.itemCount);
    field_int("total", preview->nTotalSize);
    field_int("paths", preview->paths.nCount);
    field_int("bytes", bytes);
    rec_end();
    return give_back(preview, "the deletion preview");
}

struct repair_request {
    int32_t badOnly;
    const wchar_t* folder;
};

static const void* query_repair(const void* context) {
    const struct repair_request* request = (const struct repair_request*)context;
    return BrisalenPreviewRepair(request->badOnly, request->folder);
}

static int cmd_preview_repair(int32_t badOnly, const wchar_t* folder) {
    struct repair_request request;
    const BRISALEN_REPAIR_PREVIEW* preview;
    uint32_t i;
    request.badOnly = badOnly;
    request.folder = folder;
    preview = (const BRISALEN_REPAIR_PREVIEW*)query_when_free(query_repair, &request);
    if (preview == 0) return fail("preview-repair", "BrisalenPreviewRepair gave no preview");
    for (i = 0; i < preview->nCount; ++i) {
        const BRISALEN_REPAIR_STEP* step = &preview->pItems[i];
        rec_begin("repair_step");
        field_int("type", step->nType);
        field_int("kind", step->nKind);
        field_int("action", step->nAction);
        field_wide("code", step->pszProductCode);
        field_wide("package", step->pszPackage);
        rec_end();
    }
    rec_begin("repair_preview");
    field_int("steps", preview->nCount);
    rec_end();
    return give_back(preview, "the repair preview");
}

static int cmd_products(void) {
    const BRISALEN_PRODUCT_LIST* products = BrisalenQueryItunesService();
    uint32_t i, p;
    if (products == 0) return fail("products", "BrisalenQueryItunesService gave no list");
    for (i = 0; i < products->nCount; ++i) {
        const BRISALEN_PRODUCT* product = &products->pItems[i];
        rec_begin("product");
        field_int("type", product->nProductType);
        field_wide("code", product->pszProductCode);
        field_int("properties", product->nPropertyCount);
        rec_end();
        for (p = 0; p < product->nPropertyCount; ++p) {
            rec_begin("property");
            field_wide("code", product->pszProductCode);
            field_wide("name", product->pProperties[p].pszName);
            field_wide("value", product->pProperties[p].pszValue);
            rec_end();
        }
    }
    rec_begin("products");
    field_int("count", products->nCount);
    rec_end();
    return give_back(products, "the product list");
}

static int cmd_version(void) {
    uint32_t version = BrisalenGetLibraryVersion();
    const wchar_t* itunes = BrisalenGetItunesVersion();
    if (itunes == 0) return fail("version", "BrisalenGetItunesVersion gave no string");
    rec_begin("version");
    field_int("value", version);
    out_byte('\t');
    out_text("library=");
    out_u64(BRISALEN_VERSION_MAJOR(version));
    out_byte('.');
    out_u64(BRISALEN_VERSION_MINOR(version));
    out_byte('.');
    out_u64(BRISALEN_VERSION_PATCH(version));
    field_wide("itunes", itunes);
    field_int("itunes64", BrisalenIsItunes64Bit());
    field_int("os64", BrisalenIsOs64Bit());
    field_int("store", BrisalenCheckMicrosoftStoreItunes());
    rec_end();
    return give_back(itunes, "the iTunes version");
}

/* --------------------------------------------------------------------------
 * The command line, split as Windows programs split it: 2n backslashes and
 * a quote are n backslashes and a quote that opens or closes; 2n+1 and a
 * quote, n backslashes and a literal quote; "" inside quotes a literal
 * quote; the program name is taken verbatim up to its end. */

#define HOST_MAX_ARGS 256
static wchar_t g_argText[32768];
static wchar_t* g_argv[HOST_MAX_ARGS];
static int g_argc;

static void split_command_line(const wchar_t* line) {
    wchar_t* out = g_argText;
    wchar_t* const end = g_argText + sizeof(g_argText) / sizeof(g_argText[0]) - 1;
    int quoted = 0;
    g_argc = 0;
    /* The program name. */
    if (*line == '"') {
        ++line;
        while (*line && *line != '"') ++line;
        if (*line) ++line;
    } else {
        while (*line && *line != ' ' && *line != '\t') ++line;
    }
    for (;;) {
        while (*line == ' ' || *line == '\t') ++line;
        if (*line == 0 || g_argc == HOST_MAX_ARGS || out >= end) break;
        g_argv[g_argc++] = out;
        quoted = 0;
        while (*line && out < end) {
            if (!quoted && (*line == ' ' || *line == '\t')) break;
            if (*line == '\\') {
                unsigned slashes = 0;
                while (*line == '\\') {
                    ++slashes;
                    ++line;
                }
                if (*line == '"') {
                    while (slashes >= 2 && out < end) {
                        *out++ = '\\';
                        slashes -= 2;
                    }
                    if (slashes == 1) {
                        if (out < end) *out++ = '"';
                        ++line;
                    }
                } else {
                    while (slashes > 0 && out < end) {
                        *out++ = '\\';
                        --slashes;
                    }
                }
            } else if (*line == '"') {
                if (quoted && line[1] == '"') {
                    *out++ = '"';
                    line += 2;
                } else {
                    quoted = !quoted;
                    ++line;
                }
            } else {
                *out++ = *line++;
            }
        }
        *out++ = 0;
    }
}

static int same(const wchar_t* a, const char* b) {
    while (*a && *b && *a == (wchar_t)(unsigned char)*b) {
        ++a;
        ++b;
    }
    return *a == 0 && *b == 0;
}

/* A category code, 1 to 999; 0 for anything else. */
static int32_t parse_code(const wchar_t* text) {
    int32_t value = 0;
    if (*text == 0) return 0;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9' || value > 99) return 0;
        value = value * 10 + (*text - '0');
    }
    return value;
}

static int usage(const char* why) {
    fail("usage", why);
    return 2;
}

/* One command, its arguments args[0..count). */
static int run_command(wchar_t** args, int count) {
    int i;
    if (count == 0) return usage("an empty command");
    if (same(args[0], "version") && count == 1) return cmd_version();
    if (same(args[0], "check") && count == 1) return cmd_check();
    if (same(args[0], "products") && count == 1) return cmd_products();
    if (same(args[0], "scan")) {
        if (count == 1) return cmd_scan(0);
        if (count == 2 && same(args[1], "--deep")) return cmd_scan(1);
        return usage("scan [--deep]");
    }
    if (same(args[0], "preview-uninstall")) {
        if (count == 1) return cmd_preview_uninstall(0);
        if (count == 2 && same(args[1], "--user-data")) return cmd_preview_uninstall(1);
        return usage("preview-uninstall [--user-data]");
    }
    if (same(args[0], "preview-repair")) {
        if (count != 2) return usage("preview-repair FOLDER|--bad|--none");
        if (same(args[1], "--bad")) return cmd_preview_repair(1, 0);
        if (same(args[1], "--none")) return cmd_preview_repair(0, 0);
        return cmd_preview_repair(0, args[1]);
    }
    if (same(args[0], "preview-delete")) {
        static int32_t categories[HOST_MAX_CATEGORIES];
        uint32_t picked = 0;
        int deep = 0, backups = 0;
        for (i = 1; i < count; ++i) {
            if (same(args[i], "--deep")) {
                deep = 1;
            } else if (same(args[i], "--backups")) {
                backups = 1;
            } else {
                int32_t code = parse_code(args[i]);
                if (code == 0 || picked == HOST_MAX_CATEGORIES) return usage("preview-delete: a category code");
                categories[picked++] = code;
            }
        }
        if (picked == 0 && !backups) return usage("preview-delete [--deep] [--backups] CATEGORY...");
        return cmd_preview_delete(categories, picked, deep, backups);
    }
    return usage("version | check | scan [--deep] | preview-uninstall [--user-data] | "
                 "preview-delete [--deep] [--backups] CATEGORY... | preview-repair FOLDER|--bad|--none | "
                 "products, chained with +");
}

static int run_all(void) {
    int first = 0, i, rc, result = 0;
    split_command_line(GetCommandLineW());
    if (g_argc == 0) return usage("no command");
    g_taskEnd = CreateEventW(0, 1, 0, 0);
    if (g_taskEnd == 0) return fail("start", "CreateEventW failed");
    for (i = 0; i <= g_argc; ++i) {
        if (i < g_argc && !same(g_argv[i], "+")) continue;
        g_failed = 0;
        rec_begin("begin");
        field_wide("command", i > first ? g_argv[first] : L"");
        rec_end();
        rc = run_command(g_argv + first, i - first);
        if (rc == 0 && g_failed) rc = 1;
        rec_begin("end");
        field_wide("command", i > first ? g_argv[first] : L"");
        field_int("exit", rc);
        rec_end();
        if (result == 0) result = rc;
        first = i + 1;
    }
    CloseHandle(g_taskEnd);
    return result;
}

/* The process entry: no C runtime runs before it. */
void BRISALEN_CALL BrisalenHostEntry(void);
void BRISALEN_CALL BrisalenHostEntry(void) {
    ExitProcess((uint32_t)run_all());
}
