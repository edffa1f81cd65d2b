// Windows base types, COM types and the COM/Win32 functions the library calls,
// declared under their SDK names for the emulated platform. Only what the
// library uses is declared; sizes follow the 32-bit Windows ABI where the
// library's interface depends on them (LONG, HRESULT, media-type records).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>

#define STDMETHODCALLTYPE
#define WINAPI

// A wide string literal of the platform's WCHAR: KOVIC_WIDE("CLSID").
#define KOVIC_WIDE(text) u##text

typedef uint8_t BYTE;
typedef int32_t BOOL;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef unsigned int UINT;
typedef int64_t LONGLONG;
typedef int64_t REFERENCE_TIME;
typedef int32_t HRESULT;
// Wide text is UTF-16, as on Windows: a character outside the Basic
// Multilingual Plane takes two units (a surrogate pair).
typedef char16_t WCHAR;
typedef char16_t OLECHAR;
typedef const char16_t *LPCWSTR;
typedef const char16_t *LPCOLESTR;
typedef const char16_t *LPCWCH;
typedef char16_t *LPWSTR;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef const char *LPCCH;
typedef BOOL *LPBOOL;
typedef void *LPVOID;
typedef OLECHAR *BSTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef uintptr_t UINT_PTR;
typedef struct HWND__ *HWND;
typedef void *HANDLE;
typedef struct HINSTANCE__ *HMODULE;

#define TRUE 1
#define FALSE 0

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001L)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_POINTER ((HRESULT)0x80004003L)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFL)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154L)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3L)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106L)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0L)
#define HRESULT_FROM_WIN32_FILE_NOT_FOUND ((HRESULT)0x80070002L)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CP_ACP 0
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_PARAMETER 87L

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID &REFGUID;
typedef const IID &REFIID;
typedef const CLSID &REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

typedef uint16_t VARTYPE;
enum : VARTYPE { VT_EMPTY = 0, VT_BSTR = 8 };
struct VARIANT {
    VARTYPE vt;
    uint16_t wReserved1, wReserved2, wReserved3;
    union {
        BSTR bstrVal;
        LONG lVal;
        LONGLONG llVal;
    };
};

struct RECT {
    LONG left, top, right, bottom;
};

// COM and Win32 functions, emulated (src/platform/emulated/*.cpp).
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();
struct IUnknown;
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID iid, LPVOID *out);
LPVOID CoTaskMemAlloc(size_t bytes);
void CoTaskMemFree(LPVOID block);
BSTR SysAllocString(const OLECHAR *text);
void SysFreeString(BSTR text);
void VariantInit(VARIANT *v);
HRESULT VariantClear(VARIANT *v);
HRESULT CLSIDFromString(LPCOLESTR text, CLSID *out);
int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWCH text, int text_chars, LPSTR out, int out_bytes,
                        LPCCH default_char, LPBOOL used_default);
DWORD GetLastError();
void SetLastError(DWORD error);
int wvsprintfA(LPSTR out, LPCSTR format, va_list args);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void OutputDebugStringA(LPCSTR text);

// File service. Paths are POSIX paths; sharing between handles of this process
// follows Windows: a handle opened with share mode 0 makes every other open of
// that path, and every replacement of it, fail with ERROR_SHARING_VIOLATION.
// As on Windows, a name of MAX_PATH characters or more is refused, a file
// without write permission is read-only for every user (root included), and
// "NUL" names the null device.
#define GENERIC_WRITE 0x40000000UL
#define GENERIC_READ 0x80000000UL
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_SHARE_DELETE 0x4
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define MOVEFILE_REPLACE_EXISTING 0x1
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MAX_PATH 260
#define FILE_TYPE_UNKNOWN 0x0
#define FILE_TYPE_DISK 0x1
#define FILE_TYPE_CHAR 0x2
#define FILE_TYPE_PIPE 0x3
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_WRITE_FAULT 29L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_FILE_EXISTS 80L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES *security, DWORD disposition,
                   DWORD flags, HANDLE template_file);
BOOL WriteFile(HANDLE file, const void *data, DWORD bytes, DWORD *written, OVERLAPPED *overlapped);
BOOL CloseHandle(HANDLE handle);
DWORD GetFileType(HANDLE file);
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
BOOL DeleteFileA(LPCSTR name);
