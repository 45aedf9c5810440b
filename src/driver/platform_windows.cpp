// The program's system interface on Windows: wide (UTF-16) names at the
// edge, C runtime descriptors over handles opened with the sharing the
// program needs, the console for the key-press wait, a console control
// handler for the interrupt cleanup.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <climits>
#include <cstdio>
#include <mutex>

#include "driver/byte_stream.hpp"
#include "driver/cleanup.hpp"
#include "driver/command_line.hpp"
#include "driver/platform.hpp"
#include "driver/terminal.hpp"

namespace quellpack::driver {

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;  // FILETIME counts 100 ns

std::wstring wide(const std::string& s) {
    if (s.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string utf8(const wchar_t* w) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string s(static_cast<size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    return s;
}

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// A descriptor that owns `h` (closed with it), or -1 (h then closed).
int descriptorOf(HANDLE h, int flags) {
    if (h == INVALID_HANDLE_VALUE) return -1;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
    if (fd < 0) CloseHandle(h);
    return fd;
}

struct timespec timeOf(const FILETIME& t) {
    const uint64_t ticks = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    struct timespec ts = {};
    ts.tv_sec = static_cast<time_t>(ticks / kTicksPerSecond);
    ts.tv_nsec = static_cast<long>(ticks % kTicksPerSecond * 100);
    return ts;
}

FILETIME fileTimeOf(const struct timespec& ts) {
    const uint64_t ticks = static_cast<uint64_t>(ts.tv_sec) * kTicksPerSecond + static_cast<uint64_t>(ts.tv_nsec) / 100;
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(ticks);
    t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return t;
}

bool isConsole(HANDLE h) {
    DWORD mode;
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

FileInfo infoOfHandle(HANDLE h) {
    FileInfo info;
    if (h == INVALID_HANDLE_VALUE) return info;
    const DWORD type = GetFileType(h);
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return info;
    info.known = true;
    info.terminal = type == FILE_TYPE_CHAR && isConsole(h);
    if (type != FILE_TYPE_DISK) return info;
    BY_HANDLE_FILE_INFORMATION fi;
    // A handle that tells nothing more (wine's for a redirected standard
    // stream) is read as a stream is, and has no identity to compare.
    if (!GetFileInformationByHandle(h, &fi)) return info;
    info.directory = (fi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.regular = !info.directory;
    info.device = fi.dwVolumeSerialNumber;
    info.inode = (static_cast<uint64_t>(fi.nFileIndexHigh) << 32) | fi.nFileIndexLow;
    info.size = info.regular ? (static_cast<uint64_t>(fi.nFileSizeHigh) << 32) | fi.nFileSizeLow : 0;
    info.links = fi.nNumberOfLinks;
    info.mode = (fi.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    info.accessed = timeOf(fi.ftLastAccessTime);
    info.modified = timeOf(fi.ftLastWriteTime);
    return info;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What a console interrupt removes, as the handler's thread reads it.
std::recursive_mutex& cleanupLock() {
    static std::recursive_mutex lock;
    return lock;
}
wchar_t pendingPath[32768];

BOOL WINAPI removeOnInterrupt(DWORD) {
    std::lock_guard<std::recursive_mutex> hold(cleanupLock());
    // The temporary is open with FILE_SHARE_DELETE: it goes when the
    // process ends, which the next handler brings about.
    if (pendingPath[0] != L'\0') DeleteFileW(pendingPath);
    pendingPath[0] = L'\0';
    return FALSE;
}

}  // namespace

std::vector<std::string> programArguments(int, char**) { return splitCommandLine(utf8(GetCommandLineW())); }

void prepareStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) _setmode(fd, _O_BINARY);
}

FileInfo infoOfDescriptor(int fd) { return infoOfHandle(handleOf(fd)); }

FileInfo infoOfName(const std::string& name) {
    const HANDLE h = CreateFileW(wide(name).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                 nullptr);
    const FileInfo info = infoOfHandle(h);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return info;
}

int openForReading(const std::string& name) {
    return descriptorOf(CreateFileW(wide(name).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr),
                        _O_RDONLY);
}

int openForWriting(const std::string& name, bool append) {
    const int fd = descriptorOf(CreateFileW(wide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                                _O_WRONLY | (append ? _O_APPEND : 0));
    return fd;
}

int createExclusive(const std::string& path, mode_t, bool& taken) {
    const HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    taken = h == INVALID_HANDLE_VALUE && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS);
    return descriptorOf(h, _O_RDWR);
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    // The root of a drive or of the current drive keeps its separator.
    if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

std::string followLinks(std::string path) { return path; }

bool namesAStream(const std::string&) { return false; }

bool mayWrite(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

// Windows has a read-only attribute, not permission bits: a new file is
// writable, as one the user made would be.
void setPermissions(int, mode_t) {}

void setTimes(int fd, const FileInfo& from) {
    const FILETIME accessed = fileTimeOf(from.accessed), modified = fileTimeOf(from.modified);
    SetFileTime(handleOf(fd), nullptr, &accessed, &modified);
}

bool syncFile(int fd) { return FlushFileBuffers(handleOf(fd)) != 0; }

bool truncateFile(int fd) { return _chsize_s(fd, 0) == 0; }

bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void removeFile(const std::string& path) { DeleteFileW(wide(path).c_str()); }

ssize_t readAt(int fd, uint8_t* dst, size_t n, uint64_t offset) {
    if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) return -1;
    const unsigned chunk = n > INT_MAX ? INT_MAX : static_cast<unsigned>(n);
    return _read(fd, dst, chunk);
}

bool isTerminal(int fd) { return isConsole(handleOf(fd)); }

uint64_t machineMemory() {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return 0;
    // A 32-bit process cannot use more than its address space.
    return status.ullTotalPhys < status.ullTotalVirtual ? status.ullTotalPhys : status.ullTotalVirtual;
}

FileHandle anonymousTempFile() {
    wchar_t dir[MAX_PATH + 1], name[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
    if (n == 0 || n > MAX_PATH || GetTempFileNameW(dir, L"qp", 0, name) == 0) return FileHandle();
    const HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, TRUNCATE_EXISTING,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) DeleteFileW(name);
    return FileHandle(descriptorOf(h, _O_RDWR));
}

void installCleanupHandlers() { SetConsoleCtrlHandler(removeOnInterrupt, TRUE); }

SignalBlock::SignalBlock() { cleanupLock().lock(); }

SignalBlock::~SignalBlock() { cleanupLock().unlock(); }

void registerForCleanup(const std::string& path) {
    std::lock_guard<std::recursive_mutex> hold(cleanupLock());
    const std::wstring w = wide(path);
    const size_t n = w.size() < sizeof pendingPath / sizeof pendingPath[0] ? w.size() : 0;
    w.copy(pendingPath, n);
    pendingPath[n] = L'\0';
}

void waitForKeyIfTerminal() {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved;
    if (in == INVALID_HANDLE_VALUE || in == nullptr || !GetConsoleMode(in, &saved)) return;
    SetConsoleTitleW(L"press any key to exit");
    SetConsoleMode(in, saved & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
    wchar_t key;
    DWORD got = 0;
    ReadConsoleW(in, &key, 1, &got, nullptr);
    SetConsoleMode(in, saved);
}

}  // namespace quellpack::driver
