// Emulated file service over POSIX files, with Windows' sharing rules between
// the handles of this process. WriteFile can be failed on demand, or made to
// write short (a fault result of S_FALSE writes half and reports success).
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/emulated/emu_object.h"

namespace emu {
namespace {

struct OpenFile {
    int fd;
    std::string path;
    DWORD share;
};

std::mutex g_files_mutex;
std::unordered_map<HANDLE, OpenFile> g_open_files;
uintptr_t g_next_handle = 0x1000;

std::string Canonical(const char *name) {
    char resolved[PATH_MAX];
    // The file may not exist yet: resolve its folder and keep the last part.
    std::string path(name);
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    if (realpath(dir.c_str(), resolved) == nullptr) return path;
    return std::string(resolved) + "/" + leaf;
}

// Another handle of the path that does not share what is asked.
bool SharingConflict(const std::string &path, DWORD needed_share) {
    for (const auto &entry : g_open_files) {
        if (entry.second.path == path && (entry.second.share & needed_share) != needed_share) return true;
    }
    return false;
}

// Windows' ANSI file calls take at most MAX_PATH - 1 characters.
bool NameTooLong(const char *name) { return std::strlen(name) >= MAX_PATH; }

// "NUL" is the null device in every folder on Windows; the plain name stands
// for it here.
const char *UnixName(const char *name) { return strcasecmp(name, "NUL") == 0 ? "/dev/null" : name; }

// Windows keeps a read-only file's content even from administrators: a
// regular file without any write permission counts as read-only for all.
bool ReadOnly(const struct stat &info) { return S_ISREG(info.st_mode) && (info.st_mode & 0222) == 0; }

DWORD ErrnoToError(int e) {
    switch (e) {
        case ENOENT: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR: return ERROR_ACCESS_DENIED;
        default: return ERROR_WRITE_FAULT;
    }
}

}  // namespace

}  // namespace emu

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES *, DWORD disposition, DWORD,
                   HANDLE) {
    if (FAILED(emu::CheckFault(emu::Call::CreateFile)) || name == nullptr) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (emu::NameTooLong(name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    const char *unix_name = emu::UnixName(name);
    std::string path = emu::Canonical(unix_name);
    std::lock_guard<std::mutex> lock(emu::g_files_mutex);
    // An existing handle must share our access, and we must share theirs.
    for (const auto &entry : emu::g_open_files) {
        if (entry.second.path != path) continue;
        DWORD need = ((access & GENERIC_WRITE) ? FILE_SHARE_WRITE : 0) | ((access & GENERIC_READ) ? FILE_SHARE_READ : 0);
        if ((entry.second.share & need) != need || share == 0 || entry.second.share == 0) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
    }
    struct stat before;
    const bool existed = stat(unix_name, &before) == 0;
    if (existed && (access & GENERIC_WRITE) && emu::ReadOnly(before)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
        case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
        case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
        case OPEN_ALWAYS: flags |= O_CREAT; break;
        default: break;
    }
    int fd = open(unix_name, flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS : emu::ErrnoToError(errno));
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(emu::g_next_handle);
    emu::g_next_handle += 4;
    emu::g_open_files.emplace(handle, emu::OpenFile{fd, path, share});
    emu::CountComObject(+1);  // an open handle is a live platform object
    // As on Windows, creating or opening over an existing file says so.
    SetLastError((existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)) ? ERROR_ALREADY_EXISTS
                                                                                          : NO_ERROR);
    return handle;
}

BOOL WriteFile(HANDLE file, const void *data, DWORD bytes, DWORD *written, OVERLAPPED *) {
    if (written) *written = 0;
    int fd;
    {
        std::lock_guard<std::mutex> lock(emu::g_files_mutex);
        auto it = emu::g_open_files.find(file);
        if (it == emu::g_open_files.end()) return FALSE;
        fd = it->second.fd;
    }
    HRESULT fault = emu::CheckFault(emu::Call::WriteFile);
    if (FAILED(fault)) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    DWORD to_write = fault == S_FALSE ? bytes / 2 : bytes;  // a short write that still reports success
    const char *p = static_cast<const char *>(data);
    DWORD done = 0;
    while (done < to_write) {
        ssize_t n = write(fd, p + done, to_write - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetLastError(emu::ErrnoToError(errno));
            if (written) *written = done;
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    if (written) *written = done;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(emu::g_files_mutex);
        auto it = emu::g_open_files.find(handle);
        if (it == emu::g_open_files.end()) return FALSE;
        fd = it->second.fd;
        emu::g_open_files.erase(it);
    }
    emu::CountComObject(-1);
    bool closed = close(fd) == 0;
    if (FAILED(emu::CheckFault(emu::Call::CloseHandle))) return FALSE;
    return closed ? TRUE : FALSE;
}

DWORD GetFileType(HANDLE file) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(emu::g_files_mutex);
        auto it = emu::g_open_files.find(file);
        if (it == emu::g_open_files.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FILE_TYPE_UNKNOWN;
        }
        fd = it->second.fd;
    }
    struct stat info;
    if (FAILED(emu::CheckFault(emu::Call::GetFileType)) || fstat(fd, &info) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    SetLastError(NO_ERROR);
    if (S_ISREG(info.st_mode)) return FILE_TYPE_DISK;
    if (S_ISCHR(info.st_mode)) return FILE_TYPE_CHAR;
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return FILE_TYPE_PIPE;
    return FILE_TYPE_UNKNOWN;
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    if (FAILED(emu::CheckFault(emu::Call::MoveFile)) || from == nullptr || to == nullptr) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (emu::NameTooLong(from) || emu::NameTooLong(to)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(emu::g_files_mutex);
    if (emu::SharingConflict(emu::Canonical(from), FILE_SHARE_DELETE) ||
        emu::SharingConflict(emu::Canonical(to), FILE_SHARE_DELETE)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    struct stat target;
    if (stat(to, &target) == 0) {
        // Windows replaces neither a read-only file nor a folder.
        if (!(flags & MOVEFILE_REPLACE_EXISTING) || emu::ReadOnly(target) || S_ISDIR(target.st_mode)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    if (rename(from, to) != 0) {
        SetLastError(emu::ErrnoToError(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileA(LPCSTR name) {
    if (FAILED(emu::CheckFault(emu::Call::DeleteFile)) || name == nullptr) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (emu::NameTooLong(name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(emu::g_files_mutex);
    if (emu::SharingConflict(emu::Canonical(name), FILE_SHARE_DELETE)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    struct stat info;
    if (stat(name, &info) == 0 && emu::ReadOnly(info)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(name) != 0) {
        SetLastError(emu::ErrnoToError(errno));
        return FALSE;
    }
    return TRUE;
}
