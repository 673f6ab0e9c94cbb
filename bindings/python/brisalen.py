"""Brisalen from Python, through the library's C interface (include/BrisalenC.h).

Only the standard library: ctypes loads libBrisalen.so (Linux, over the
simulated machine named by BRISALEN_MACHINE) or Brisalen.dll (Windows; a
32-bit DLL needs a 32-bit Python). Every function and callback is cdecl.

    lib = brisalen.Library()                 # or Library("/path/to/libBrisalen.so")
    scan = lib.scan(deep=True)
    preview = lib.preview_deletion([1], [b.id for b in scan.backups])

The wrappers return plain Python objects, hand every pointer the library
returned back to BrisalenFree, and raise BrisalenError naming the C function
when it answers 0 or null. Records passed to a callback are copied while
the callback runs: the library owns them only for that call.
"""
import ctypes
import os
import sys
import threading
import time
from dataclasses import dataclass, field
from typing import Callable, Dict, List, Optional, Sequence

__all__ = ["BrisalenError", "CancelFlag", "Library", "load"]

LIBRARY_ENV = "BRISALEN_LIBRARY"
MACHINE_ENV = "BRISALEN_MACHINE"
# Seconds a start refused right after the same kind's previous task is retried.
START_WINDOW = 5.0

c_int32 = ctypes.c_int32
c_uint32 = ctypes.c_uint32
c_int64 = ctypes.c_int64
c_wstr = ctypes.c_wchar_p


class BrisalenError(Exception):
    """A C function of the library answered 0 or null; `function` names it.
    `error` is the installer's code where the function hands one out."""

    def __init__(self, function: str, detail: str = "", error: Optional[int] = None):
        self.function = function
        self.error = error
        text = "%s failed" % function
        if error is not None:
            text += " (error %d)" % error
        if detail:
            text += ": " + detail
        super().__init__(text)


# ---------------------------------------------------------------------------
# The records, field for field as BrisalenC.h lays them out. `c_name` is the
# header's name, for the layout test.


class _Record(ctypes.Structure):
    c_name = ""


class STRING_LIST(_Record):
    c_name = "BRISALEN_STRING_LIST"
    _fields_ = [("nCount", c_uint32), ("ppItems", ctypes.POINTER(c_wstr))]


class PATH_ENTRY(_Record):
    c_name = "BRISALEN_PATH_ENTRY"
    _fields_ = [("nSize", c_int64), ("pszPath", c_wstr), ("bFolder", c_int32), ("nReserved", c_int32)]


class PATH_LIST(_Record):
    c_name = "BRISALEN_PATH_LIST"
    _fields_ = [("nCount", c_uint32), ("pItems", ctypes.POINTER(PATH_ENTRY))]


class CHECK_INFO(_Record):
    c_name = "BRISALEN_CHECK_INFO"
    _fields_ = [("nType", c_int32), ("nState", c_int32), ("pszProductName", c_wstr), ("pszVersion", c_wstr),
                ("pszMessage", c_wstr), ("pszServices", c_wstr), ("files", STRING_LIST), ("nRepairCount", c_int32),
                ("bNeedPackage", c_int32), ("nInstalledCount", c_int32), ("nCheckedFiles", c_int32)]


class REPAIR_INFO(_Record):
    c_name = "BRISALEN_REPAIR_INFO"
    _fields_ = [("nType", c_int32), ("nKind", c_int32), ("bSuccess", c_int32), ("nErrorCode", c_int32),
                ("pszMessage", c_wstr)]


class UNINSTALL_INFO(_Record):
    c_name = "BRISALEN_UNINSTALL_INFO"
    _fields_ = [("nType", c_int32), ("bSuccess", c_int32), ("nErrorCode", c_int32), ("nReserved", c_int32),
                ("pszProductName", c_wstr), ("pszPath", c_wstr), ("pszMessage", c_wstr), ("files", STRING_LIST)]


class INSTALL_INFO(_Record):
    c_name = "BRISALEN_INSTALL_INFO"
    _fields_ = [("pszPackage", c_wstr), ("bSuccess", c_int32), ("nErrorCode", c_int32)]


class USER_DATA_ITEM(_Record):
    c_name = "BRISALEN_USER_DATA_ITEM"
    _fields_ = [("nSize", c_int64), ("nDate", c_int64), ("nId", c_int32), ("bValid", c_int32), ("pszPath", c_wstr),
                ("pszDeviceId", c_wstr), ("pszDeviceName", c_wstr), ("pszVersion", c_wstr), ("pszDate", c_wstr)]


class SCAN_PROGRESS(_Record):
    c_name = "BRISALEN_SCAN_PROGRESS"
    _fields_ = [("bDeepScan", c_int32), ("nScannedDir", c_int32), ("nTotalDir", c_int32)]


class ENUM_INFO(_Record):
    c_name = "BRISALEN_ENUM_INFO"
    _fields_ = [("nCategorySize", c_int64), ("nGroupSize", c_int64), ("nGroup", c_int32), ("nCategory", c_int32),
                ("nCategoryCount", c_int32), ("nGroupCount", c_int32), ("pProgress", ctypes.POINTER(SCAN_PROGRESS)),
                ("item", USER_DATA_ITEM)]


class DELETE_INFO(_Record):
    c_name = "BRISALEN_DELETE_INFO"
    _fields_ = [("nDeletedSize", c_int64), ("nTotalSize", c_int64), ("bSuccess", c_int32), ("nResult", c_int32),
                ("residual", STRING_LIST)]


class CATEGORY_INFO(_Record):
    c_name = "BRISALEN_CATEGORY_INFO"
    _fields_ = [("nSize", c_int64), ("nCategory", c_int32), ("nCount", c_int32), ("folders", STRING_LIST)]


class GROUP_INFO(_Record):
    c_name = "BRISALEN_GROUP_INFO"
    _fields_ = [("nSize", c_int64), ("nGroup", c_int32), ("nCount", c_int32), ("nCategoryCount", c_uint32),
                ("pCategories", ctypes.POINTER(CATEGORY_INFO))]


class GROUP_LIST(_Record):
    c_name = "BRISALEN_GROUP_LIST"
    _fields_ = [("nCount", c_uint32), ("pItems", ctypes.POINTER(GROUP_INFO))]


class PROPERTY(_Record):
    c_name = "BRISALEN_PROPERTY"
    _fields_ = [("pszName", c_wstr), ("pszValue", c_wstr)]


class PRODUCT(_Record):
    c_name = "BRISALEN_PRODUCT"
    _fields_ = [("nProductType", c_int32), ("nPropertyCount", c_uint32), ("pszProductCode", c_wstr),
                ("pProperties", ctypes.POINTER(PROPERTY))]


class PRODUCT_LIST(_Record):
    c_name = "BRISALEN_PRODUCT_LIST"
    _fields_ = [("nCount", c_uint32), ("pItems", ctypes.POINTER(PRODUCT))]


class UNINSTALL_STEP(_Record):
    c_name = "BRISALEN_UNINSTALL_STEP"
    _fields_ = [("nType", c_int32), ("nAction", c_int32), ("pszProductName", c_wstr), ("pszProductCode", c_wstr),
                ("pszInstallLocation", c_wstr)]


class UNINSTALL_PREVIEW(_Record):
    c_name = "BRISALEN_UNINSTALL_PREVIEW"
    _fields_ = [("nStepCount", c_uint32), ("pSteps", ctypes.POINTER(UNINSTALL_STEP)),
                ("residualFolders", STRING_LIST), ("programs", STRING_LIST), ("paths", PATH_LIST),
                ("userDataFolders", STRING_LIST), ("bStoreEdition", c_int32), ("nReserved", c_int32)]


class DELETION_PREVIEW(_Record):
    c_name = "BRISALEN_DELETION_PREVIEW"
    _fields_ = [("nTotalSize", c_int64), ("paths", PATH_LIST)]


class REPAIR_STEP(_Record):
    c_name = "BRISALEN_REPAIR_STEP"
    _fields_ = [("nType", c_int32), ("nKind", c_int32), ("nAction", c_int32), ("nReserved", c_int32),
                ("pszProductCode", c_wstr), ("pszPackage", c_wstr)]


class REPAIR_PREVIEW(_Record):
    c_name = "BRISALEN_REPAIR_PREVIEW"
    _fields_ = [("nCount", c_uint32), ("pItems", ctypes.POINTER(REPAIR_STEP))]


RECORDS = [STRING_LIST, PATH_ENTRY, PATH_LIST, CHECK_INFO, REPAIR_INFO, UNINSTALL_INFO, INSTALL_INFO, USER_DATA_ITEM,
           SCAN_PROGRESS, ENUM_INFO, DELETE_INFO, CATEGORY_INFO, GROUP_INFO, GROUP_LIST, PROPERTY, PRODUCT,
           PRODUCT_LIST, UNINSTALL_STEP, UNINSTALL_PREVIEW, DELETION_PREVIEW, REPAIR_STEP, REPAIR_PREVIEW]

# The states and codes of the header.
CHECK_ITEM_CHECKING, CHECK_ITEM_SUCCESS, CHECK_ITEM_SUCCESS_NOT_SURE = 1, 2, 3
CHECK_ITEM_FAIL_MISS, CHECK_ITEM_FAIL_BAD, CHECK_ALL_COMPLETE = 4, 5, 6
REPAIR_ITEM_BEGIN, REPAIR_ITEM_SUCCESS, REPAIR_ITEM_FAIL, REPAIR_ALL_COMPLETE = 1, 2, 3, 4
REPAIR_KIND_DAMAGED, REPAIR_KIND_MISSING = 2, 3
UNINSTALL_ITEM_BEGIN, UNINSTALL_ITEM_END = 1, 2
UNINSTALL_DELETE_RESIDUAL_DIR, UNINSTALL_DELETE_USER_DATA_DIR, UNINSTALL_ALL_COMPLETE = 4, 5, 6
INSTALL_ITEM_BEGIN, INSTALL_ITEM_SUCCESS, INSTALL_ITEM_FAIL, INSTALL_ALL_COMPLETE = 1, 2, 3, 4
ENUM_BEGIN, ENUM_PROGRESS, ENUM_DEEP_SCAN_BEGIN, ENUM_END = 1, 2, 3, 4
DELETE_DELETING, DELETE_COMPLETE = 1, 2
STEP_UNINSTALL = 1
REPAIR_REINSTALL, REPAIR_INSTALL, REPAIR_NO_PACKAGE, REPAIR_UNKNOWN = 1, 2, 3, 4

CheckCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p, c_int32, ctypes.POINTER(CHECK_INFO))
RepairCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p, c_int32, ctypes.POINTER(REPAIR_INFO))
UninstallCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p, c_int32, ctypes.POINTER(UNINSTALL_INFO))
InstallCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p, c_int32, ctypes.POINTER(INSTALL_INFO))
EnumCallback = ctypes.CFUNCTYPE(c_int32, ctypes.c_void_p, c_int32, ctypes.POINTER(ENUM_INFO))
DeleteCallback = ctypes.CFUNCTYPE(c_int32, ctypes.c_void_p, c_int32, ctypes.POINTER(DELETE_INFO))

# The tasks whose data each query or preview shares: it answers null while
# one runs.
_SHARING = {
    "BrisalenGetAllItunesTypeInfo": ("enum", "delete"),
    "BrisalenPreviewUserDataDeletion": ("enum", "delete"),
    "BrisalenPreviewRepair": ("check", "repair"),
    "BrisalenPreviewOneKeyUninstall": ("uninstall",),
    "BrisalenGetAllInstallProductInfo": (),
    "BrisalenQueryItunesService": (),
    "BrisalenQueryProductService": (),
}

_P = ctypes.POINTER
_U8P = _P(ctypes.c_uint8)
_I32P = _P(c_int32)
# name: (restype, argtypes); every export of BrisalenC.h.
FUNCTIONS = {
    "BrisalenGetLibraryVersion": (c_uint32, []),
    "BrisalenFree": (c_int32, [ctypes.c_void_p]),
    "BrisalenIsItunes64Bit": (c_int32, []),
    # A pointer, not c_wchar_p: ctypes would copy the text and lose what
    # must go back to BrisalenFree.
    "BrisalenGetItunesVersion": (ctypes.c_void_p, []),
    "BrisalenCheckMicrosoftStoreItunes": (c_int32, []),
    "BrisalenIsOs64Bit": (c_int32, []),
    "BrisalenOpenItunes": (c_int32, []),
    "BrisalenCheckAllItunesComponent": (c_int32, [CheckCallback, ctypes.c_void_p, c_int32]),
    "BrisalenRepairAllItunesComponent": (c_int32, [c_wstr, RepairCallback, ctypes.c_void_p]),
    "BrisalenRepairBadComponent": (c_int32, [RepairCallback, ctypes.c_void_p]),
    "BrisalenOneKeyUninstall": (c_int32, [UninstallCallback, ctypes.c_void_p, c_int32, _U8P]),
    "BrisalenOneKeyInstall": (c_int32, [c_wstr, InstallCallback, ctypes.c_void_p]),
    "BrisalenEnumItunesUserData": (c_int32, [EnumCallback, ctypes.c_void_p, c_int32, _U8P]),
    "BrisalenDeleteItunesUserData": (c_int32, [DeleteCallback, ctypes.c_void_p, _I32P, c_uint32, _I32P, c_uint32,
                                               _U8P]),
    "BrisalenGetAllItunesTypeInfo": (_P(GROUP_LIST), []),
    "BrisalenGetAllInstallProductInfo": (_P(PRODUCT_LIST), []),
    "BrisalenQueryItunesService": (_P(PRODUCT_LIST), []),
    "BrisalenQueryProductService": (_P(STRING_LIST), [c_int32]),
    "BrisalenInstallProduct": (c_int32, [c_wstr, _I32P]),
    "BrisalenUninstallProduct": (c_int32, [c_int32, c_wstr, _I32P]),
    "BrisalenSaveProductVerifyInfo": (c_int32, [_P(CHECK_INFO), c_uint32, c_wstr]),
    "BrisalenPreviewOneKeyUninstall": (_P(UNINSTALL_PREVIEW), [c_int32]),
    "BrisalenPreviewUserDataDeletion": (_P(DELETION_PREVIEW), [_I32P, c_uint32, _I32P, c_uint32]),
    "BrisalenPreviewRepair": (_P(REPAIR_PREVIEW), [c_int32, c_wstr]),
}


# ---------------------------------------------------------------------------
# What the wrappers hand out: copies, valid after the library's memory is gone.


def _strings(lst: STRING_LIST) -> List[str]:
    return [lst.ppItems[i] or "" for i in range(lst.nCount)]


@dataclass
class PathEntry:
    path: str
    size: int
    folder: bool


def _paths(lst: PATH_LIST) -> List[PathEntry]:
    return [PathEntry(e.pszPath or "", e.nSize, bool(e.bFolder)) for e in (lst.pItems[i] for i in range(lst.nCount))]


@dataclass
class CheckRecord:
    state: int
    type: int
    product_name: str
    version: str
    message: str
    services: str
    files: List[str]
    repair_count: int
    need_package: bool
    installed_count: int
    checked_files: int


@dataclass
class RepairRecord:
    state: int
    type: int
    kind: int
    success: bool
    error: int
    message: str


@dataclass
class UninstallRecord:
    state: int
    type: int
    success: bool
    error: int
    product_name: str
    path: str
    message: str
    files: List[str]


@dataclass
class InstallRecord:
    state: int
    package: str
    success: bool
    error: int


@dataclass
class Backup:
    id: int
    path: str
    size: int
    date_seconds: int
    date: str
    device_id: str
    device_name: str
    version: str


@dataclass
class ScanRecord:
    state: int
    group: int
    category: int
    category_size: int
    category_count: int
    group_size: int
    group_count: int
    deep_pass: bool
    scanned_folders: int
    total_folders: int
    backup: Optional[Backup]


@dataclass
class ScanResult:
    """The scan's records in order, and what they add up to."""
    records: List[ScanRecord]
    # category code -> (files, bytes), as the last record of each said
    categories: Dict[int, tuple] = field(default_factory=dict)
    groups: Dict[int, tuple] = field(default_factory=dict)
    backups: List[Backup] = field(default_factory=list)


@dataclass
class DeleteRecord:
    state: int
    deleted_size: int
    total_size: int
    success: bool
    result: int
    residual: List[str]


@dataclass
class Category:
    category: int
    size: int
    count: int
    folders: List[str]


@dataclass
class Group:
    group: int
    size: int
    count: int
    categories: List[Category]


@dataclass
class Product:
    type: int
    code: str
    properties: Dict[str, str]


@dataclass
class UninstallStep:
    type: int
    action: int
    product_name: str
    product_code: str
    install_location: str


@dataclass
class UninstallPreview:
    steps: List[UninstallStep]
    residual_folders: List[str]
    programs: List[str]
    paths: List[PathEntry]
    user_data_folders: List[str]
    store_edition: bool


@dataclass
class DeletionPreview:
    total_size: int
    paths: List[PathEntry]


@dataclass
class RepairStep:
    type: int
    kind: int
    action: int
    product_code: str
    package: str


def _check_record(state: int, info: CHECK_INFO) -> CheckRecord:
    return CheckRecord(state, info.nType, info.pszProductName or "", info.pszVersion or "", info.pszMessage or "",
                       info.pszServices or "", _strings(info.files), info.nRepairCount, bool(info.bNeedPackage),
                       info.nInstalledCount, info.nCheckedFiles)


def _repair_record(state: int, info: REPAIR_INFO) -> RepairRecord:
    return RepairRecord(state, info.nType, info.nKind, bool(info.bSuccess), info.nErrorCode, info.pszMessage or "")


def _uninstall_record(state: int, info: UNINSTALL_INFO) -> UninstallRecord:
    return UninstallRecord(state, info.nType, bool(info.bSuccess), info.nErrorCode, info.pszProductName or "",
                           info.pszPath or "", info.pszMessage or "", _strings(info.files))


def _install_record(state: int, info: INSTALL_INFO) -> InstallRecord:
    return InstallRecord(state, info.pszPackage or "", bool(info.bSuccess), info.nErrorCode)


def _scan_record(state: int, info: ENUM_INFO) -> ScanRecord:
    item = info.item
    backup = None
    if item.bValid:
        backup = Backup(item.nId, item.pszPath or "", item.nSize, item.nDate, item.pszDate or "",
                        item.pszDeviceId or "", item.pszDeviceName or "", item.pszVersion or "")
    progress = info.pProgress.contents if info.pProgress else SCAN_PROGRESS()
    return ScanRecord(state, info.nGroup, info.nCategory, info.nCategorySize, info.nCategoryCount, info.nGroupSize,
                      info.nGroupCount, bool(progress.bDeepScan), progress.nScannedDir, progress.nTotalDir, backup)


def _delete_record(state: int, info: DELETE_INFO) -> DeleteRecord:
    return DeleteRecord(state, info.nDeletedSize, info.nTotalSize, bool(info.bSuccess), info.nResult,
                        _strings(info.residual))


def _groups(lst: GROUP_LIST) -> List[Group]:
    groups = []
    for i in range(lst.nCount):
        g = lst.pItems[i]
        categories = [Category(c.nCategory, c.nSize, c.nCount, _strings(c.folders))
                      for c in (g.pCategories[j] for j in range(g.nCategoryCount))]
        groups.append(Group(g.nGroup, g.nSize, g.nCount, categories))
    return groups


def _products(lst: PRODUCT_LIST) -> List[Product]:
    products = []
    for i in range(lst.nCount):
        p = lst.pItems[i]
        properties = {q.pszName or "": q.pszValue or "" for q in (p.pProperties[j] for j in range(p.nPropertyCount))}
        products.append(Product(p.nProductType, p.pszProductCode or "", properties))
    return products


def _uninstall_preview(p: UNINSTALL_PREVIEW) -> UninstallPreview:
    steps = [UninstallStep(s.nType, s.nAction, s.pszProductName or "", s.pszProductCode or "",
                           s.pszInstallLocation or "") for s in (p.pSteps[i] for i in range(p.nStepCount))]
    return UninstallPreview(steps, _strings(p.residualFolders), _strings(p.programs), _paths(p.paths),
                            _strings(p.userDataFolders), bool(p.bStoreEdition))


def _repair_steps(p: REPAIR_PREVIEW) -> List[RepairStep]:
    return [RepairStep(s.nType, s.nKind, s.nAction, s.pszProductCode or "", s.pszPackage or "")
            for s in (p.pItems[i] for i in range(p.nCount))]


def _int_array(values: Optional[Sequence[int]]):
    """A C array of the values and its length; null for none."""
    values = list(values or [])
    if not values:
        return None, 0
    return (c_int32 * len(values))(*values), len(values)


class CancelFlag:
    """The byte a task reads to stop: set() cancels. Owned here, read by the library."""

    def __init__(self):
        self._byte = ctypes.c_uint8(0)

    def set(self):
        self._byte.value = 1

    @property
    def is_set(self) -> bool:
        return self._byte.value != 0

    def pointer(self):
        return ctypes.pointer(self._byte)


class _Task:
    """One running task: its records, gathered on the library's worker."""

    def __init__(self, final_state: int):
        self.final_state = final_state
        self.records: list = []
        self.done = threading.Event()
        self.failure: Optional[BaseException] = None


# ---------------------------------------------------------------------------


def _default_library_name() -> str:
    return "Brisalen.dll" if sys.platform == "win32" else "libBrisalen.so"


class Library:
    """The loaded library. Its callbacks live as long as it does: the worker
    thread may still be returning from the final report when the waiting
    thread wakes, so no task's callback may be freed under it."""

    def __init__(self, path: Optional[str] = None, machine: Optional[str] = None):
        path = path or os.environ.get(LIBRARY_ENV) or _default_library_name()
        if machine is not None:
            # Read by the simulated machine when the library first reaches it.
            os.environ[MACHINE_ENV] = machine
        folder = os.path.dirname(os.path.abspath(path)) if os.path.dirname(path) else None
        if sys.platform == "win32" and folder and hasattr(os, "add_dll_directory"):
            self._dll_folder = os.add_dll_directory(folder)
        try:
            self._lib = ctypes.CDLL(path)
        except OSError as e:
            raise BrisalenError("load", "%s: %s" % (path, e)) from None
        for name, (restype, argtypes) in FUNCTIONS.items():
            try:
                function = getattr(self._lib, name)
            except AttributeError:
                raise BrisalenError("load", "%s lacks the export %s" % (path, name)) from None
            function.restype = restype
            function.argtypes = argtypes
        self.path = path
        self._tasks: Dict[int, _Task] = {}
        self._tasks_lock = threading.Lock()
        self._next_token = 1
        self._ended: Dict[str, float] = {}
        self._callbacks = {
            "check": CheckCallback(self._reporter(_check_record)),
            "repair": RepairCallback(self._reporter(_repair_record)),
            "uninstall": UninstallCallback(self._reporter(_uninstall_record)),
            "install": InstallCallback(self._reporter(_install_record)),
            "enum": EnumCallback(self._reporter(_scan_record, 1)),
            "delete": DeleteCallback(self._reporter(_delete_record, 1)),
        }

    @property
    def raw(self):
        """The ctypes library itself, argtypes set, for callers that need a C function as is."""
        return self._lib

    # -- plumbing ----------------------------------------------------------

    def _reporter(self, convert: Callable, answer=None):
        def report(user, state, info):
            task = self._tasks.get(user or 0)
            if task is None:
                return answer
            try:
                task.records.append(convert(state, info.contents))
            except BaseException as e:  # never let it unwind into the library
                task.failure = e
            if state == task.final_state:
                task.done.set()
            return answer

        return report

    def _run(self, kind: str, final_state: int, start: Callable, name: str, timeout: Optional[float]) -> list:
        task = _Task(final_state)
        with self._tasks_lock:
            token = self._next_token
            self._next_token += 1
            self._tasks[token] = task
        try:
            if not self._start(kind, lambda: start(self._callbacks[kind], ctypes.c_void_p(token))):
                raise BrisalenError(name, "nothing started (a task of the same kind runs?)")
            if not task.done.wait(timeout):
                raise BrisalenError(name, "no final report within %s s" % timeout)
            self._ended[kind] = time.monotonic()
        finally:
            with self._tasks_lock:
                # Late reports of a task given up on find no task and are dropped.
                self._tasks.pop(token, None)
        if task.failure is not None:
            raise task.failure
        return task.records

    def _start(self, kind: str, start: Callable) -> bool:
        """The library sends a task's final report before its worker frees the
        task's slot: a start right after this library's own previous task of
        the kind may be refused for that moment, so it is retried briefly."""
        return self._retry_after((kind,), start)

    def _retry_after(self, kinds: Sequence[str], call: Callable):
        """call() until it answers, retried for START_WINDOW seconds after this
        library's last task of one of `kinds` ended; its last answer."""
        answer = call()
        ended = max((self._ended.get(k, float("-inf")) for k in kinds), default=float("-inf"))
        deadline = ended + START_WINDOW
        while not answer and time.monotonic() < deadline:
            time.sleep(0.01)
            answer = call()
        return answer

    def _take(self, name: str, pointer, convert: Callable):
        """Converts what `name` returned, then hands it back to BrisalenFree.
        `pointer` may be a call: retried, as a start is, right after a task
        sharing its data ended (a query is refused until the worker is gone)."""
        if callable(pointer):
            pointer = self._retry_after(_SHARING[name], pointer)
        if not pointer:
            raise BrisalenError(name, "null")
        try:
            value = convert(pointer.contents)
        finally:
            freed = self._lib.BrisalenFree(pointer)
        if not freed:
            raise BrisalenError("BrisalenFree", "of what %s returned" % name)
        return value

    def free(self, pointer) -> bool:
        """BrisalenFree as is: True when the pointer was the library's and is freed now."""
        return bool(self._lib.BrisalenFree(pointer))

    # -- the repair manager -------------------------------------------------

    def version(self) -> tuple:
        v = self._lib.BrisalenGetLibraryVersion()
        return (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF

    def is_os_64bit(self) -> bool:
        return bool(self._lib.BrisalenIsOs64Bit())

    def is_itunes_64bit(self) -> bool:
        return bool(self._lib.BrisalenIsItunes64Bit())

    def store_itunes_installed(self) -> bool:
        return bool(self._lib.BrisalenCheckMicrosoftStoreItunes())

    def itunes_version(self) -> str:
        """"" when no iTunes is installed."""
        address = self._lib.BrisalenGetItunesVersion()
        if not address:
            raise BrisalenError("BrisalenGetItunesVersion", "null")
        try:
            text = ctypes.wstring_at(address)
        finally:
            freed = self._lib.BrisalenFree(address)
        if not freed:
            raise BrisalenError("BrisalenFree", "of what BrisalenGetItunesVersion returned")
        return text

    def open_itunes(self) -> None:
        if not self._lib.BrisalenOpenItunes():
            raise BrisalenError("BrisalenOpenItunes")

    def check(self, verify_files: bool = False, timeout: Optional[float] = None) -> List[CheckRecord]:
        return self._run("check", CHECK_ALL_COMPLETE,
                         lambda cb, user: self._lib.BrisalenCheckAllItunesComponent(cb, user, int(verify_files)),
                         "BrisalenCheckAllItunesComponent", timeout)

    def repair_all(self, folder: Optional[str], timeout: Optional[float] = None) -> List[RepairRecord]:
        return self._run("repair", REPAIR_ALL_COMPLETE,
                         lambda cb, user: self._lib.BrisalenRepairAllItunesComponent(folder, cb, user),
                         "BrisalenRepairAllItunesComponent", timeout)

    def repair_bad(self, timeout: Optional[float] = None) -> List[RepairRecord]:
        return self._run("repair", REPAIR_ALL_COMPLETE, self._lib.BrisalenRepairBadComponent,
                         "BrisalenRepairBadComponent", timeout)

    def one_key_uninstall(self, delete_user_data: bool = False, cancel: Optional[CancelFlag] = None,
                          timeout: Optional[float] = None) -> List[UninstallRecord]:
        flag = cancel.pointer() if cancel else None
        return self._run("uninstall", UNINSTALL_ALL_COMPLETE,
                         lambda cb, user: self._lib.BrisalenOneKeyUninstall(cb, user, int(delete_user_data), flag),
                         "BrisalenOneKeyUninstall", timeout)

    def one_key_install(self, folder: str, timeout: Optional[float] = None) -> List[InstallRecord]:
        return self._run("install", INSTALL_ALL_COMPLETE,
                         lambda cb, user: self._lib.BrisalenOneKeyInstall(folder, cb, user),
                         "BrisalenOneKeyInstall", timeout)

    # -- the user-data manager ----------------------------------------------

    def scan(self, deep: bool = False, cancel: Optional[CancelFlag] = None,
             timeout: Optional[float] = None) -> ScanResult:
        flag = cancel.pointer() if cancel else None
        records = self._run("enum", ENUM_END,
                            lambda cb, user: self._lib.BrisalenEnumItunesUserData(cb, user, int(deep), flag),
                            "BrisalenEnumItunesUserData", timeout)
        result = ScanResult(records)
        seen = set()
        for r in records:
            if r.state == ENUM_PROGRESS and r.category:
                result.categories[r.category] = (r.category_count, r.category_size)
                result.groups[r.group] = (r.group_count, r.group_size)
            if r.backup is not None and r.backup.id not in seen:
                seen.add(r.backup.id)
                result.backups.append(r.backup)
        return result

    def delete(self, categories: Sequence[int] = (), items: Sequence[int] = (), cancel: Optional[CancelFlag] = None,
               timeout: Optional[float] = None) -> List[DeleteRecord]:
        """Deletes categories (codes 1 to 20) and backups (ids of the last scan)."""
        flag = cancel.pointer() if cancel else None
        cats, ncats = _int_array(categories)
        ids, nids = _int_array(items)
        return self._run("delete", DELETE_COMPLETE,
                         lambda cb, user: self._lib.BrisalenDeleteItunesUserData(cb, user, cats, ncats, ids, nids,
                                                                                 flag),
                         "BrisalenDeleteItunesUserData", timeout)

    def group_map(self) -> List[Group]:
        return self._take("BrisalenGetAllItunesTypeInfo", self._lib.BrisalenGetAllItunesTypeInfo, _groups)

    # -- product queries ------------------------------------------------------

    def all_products(self) -> List[Product]:
        return self._take("BrisalenGetAllInstallProductInfo", self._lib.BrisalenGetAllInstallProductInfo(),
                          _products)

    def family_products(self) -> List[Product]:
        return self._take("BrisalenQueryItunesService", self._lib.BrisalenQueryItunesService(), _products)

    def product_services(self, product_type: int) -> List[str]:
        """Raises BrisalenError when the type has no services listed (the C call answers null)."""
        return self._take("BrisalenQueryProductService", self._lib.BrisalenQueryProductService(product_type),
                          _strings)

    def install_product(self, package_path: str) -> int:
        """The installer's code (0, or 3010 and the like); raises with the code on failure."""
        err = c_int32(0)
        if not self._lib.BrisalenInstallProduct(package_path, ctypes.byref(err)):
            raise BrisalenError("BrisalenInstallProduct", package_path, err.value)
        return err.value

    def uninstall_product(self, product_type: int, product_code: str) -> int:
        """The installer's code (1605 for a code not installed, which is success)."""
        err = c_int32(0)
        if not self._lib.BrisalenUninstallProduct(product_type, product_code, ctypes.byref(err)):
            raise BrisalenError("BrisalenUninstallProduct", product_code, err.value)
        return err.value

    # -- previews -------------------------------------------------------------

    def preview_uninstall(self, delete_user_data: bool = False) -> UninstallPreview:
        return self._take("BrisalenPreviewOneKeyUninstall",
                          lambda: self._lib.BrisalenPreviewOneKeyUninstall(int(delete_user_data)), _uninstall_preview)

    def preview_deletion(self, categories: Sequence[int] = (), items: Sequence[int] = ()) -> DeletionPreview:
        cats, ncats = _int_array(categories)
        ids, nids = _int_array(items)
        return self._take("BrisalenPreviewUserDataDeletion",
                          lambda: self._lib.BrisalenPreviewUserDataDeletion(cats, ncats, ids, nids),
                          lambda p: DeletionPreview(p.nTotalSize, _paths(p.paths)))

    def preview_repair(self, bad_only: bool, folder: Optional[str] = None) -> List[RepairStep]:
        return self._take("BrisalenPreviewRepair", lambda: self._lib.BrisalenPreviewRepair(int(bad_only), folder),
                          _repair_steps)


_loaded: Optional[Library] = None


def load(path: Optional[str] = None, machine: Optional[str] = None) -> Library:
    """The process's one Library: the library keeps process-wide state
    (managers, the last scan), so a second load would share it anyway."""
    global _loaded
    if _loaded is None:
        _loaded = Library(path, machine)
    return _loaded
