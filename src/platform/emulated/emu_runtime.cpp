// The emulated COM runtime and Win32 services: fault injection and call counts,
// live-object counts, COM initialisation, object creation, task memory, BSTR and
// VARIANT, class-identifier parsing, text conversion, formatting, debug output.
// Thread-safe: the streaming threads of running graphs call in here too.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/emulated/emu_object.h"

namespace emu {
namespace {

struct Fault {
    Call call;
    HRESULT result;
    int occurrence;
    bool has_target;
    GUID target;
    int seen;
};

std::mutex g_mutex;
std::vector<Fault> g_faults;
int g_call_counts[static_cast<int>(Call::Count)];
int g_faults_fired;
std::string g_debug_output;
std::atomic<int> g_live_com{0};
std::atomic<int> g_live_task_mem{0};
std::atomic<int> g_live_strings{0};
thread_local int t_com_depth;
thread_local DWORD t_last_error;

const char *const kCallNames[] = {
    "CoInitialize", "CoCreateInstance", "CoTaskMemAlloc", "CreateClassEnumerator", "EnumMonikerNext",
    "BindToStorage", "PropertyBagRead", "WideCharToMultiByte", "CLSIDFromString", "BindToObject",
    "LibraryAlloc", "SetFiltergraph", "AddFilter", "RemoveFilter", "GraphConnect", "GraphConnectDirect",
    "GraphDisconnect",
    "FindInterface", "EnumPins", "EnumPinsNext", "QueryDirection", "ConnectedTo", "QueryPinInfo",
    "QueryInterface", "GetNumberOfCapabilities", "GetStreamCaps", "SetFormat", "GetFormat",
    "GrabberSetMediaType", "GrabberSetOneShot", "GrabberSetBufferSamples", "GrabberSetCallback",
    "GrabberGetConnectedMediaType", "MediaControlRun", "MediaControlStop", "SendMessage", "PostMessage",
    "CreateFile", "WriteFile", "CloseHandle", "MoveFile", "GetFileType", "DeleteFile",
    "HoldLibraryModule",
};
static_assert(sizeof(kCallNames) / sizeof(kCallNames[0]) == static_cast<size_t>(Call::Count),
              "one name per call");

// Task-memory blocks carry a header so CoTaskMemFree can be checked and counted.
struct TaskMemHeader {
    uint64_t magic;
    size_t bytes;
};
constexpr uint64_t kTaskMemMagic = 0x6B6F7669634D454DULL;

}  // namespace

const char *CallName(Call call) {
    int i = static_cast<int>(call);
    return (i >= 0 && i < static_cast<int>(Call::Count)) ? kCallNames[i] : "?";
}

HRESULT CheckFault(Call call, const GUID *target) {
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_call_counts[static_cast<int>(call)];
    for (Fault &f : g_faults) {
        if (f.call != call) continue;
        if (f.has_target && (target == nullptr || !IsEqualGUID(*target, f.target))) continue;
        ++f.seen;
        if (f.occurrence == 0 || f.seen == f.occurrence) {
            ++g_faults_fired;
            return f.result;
        }
    }
    return S_OK;
}

void FailCall(Call call, HRESULT result, int occurrence, const GUID *target) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Fault f{call, result, occurrence, target != nullptr, target ? *target : GUID_NULL, 0};
    g_faults.push_back(f);
}

void ClearFaults() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_faults.clear();
    g_faults_fired = 0;
}

int CallCount(Call call) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_call_counts[static_cast<int>(call)];
}

void ResetCallCounts() {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (int &c : g_call_counts) c = 0;
}

int FaultsFired() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_faults_fired;
}

void CountComObject(int delta) { g_live_com += delta; }
void CountTaskMem(int delta) { g_live_task_mem += delta; }
void CountString(int delta) { g_live_strings += delta; }
int LiveComObjects() { return g_live_com; }
int LiveTaskMemBlocks() { return g_live_task_mem; }
int LiveStrings() { return g_live_strings; }
int LiveObjects() { return g_live_com + g_live_task_mem + g_live_strings; }
int ComInitDepth() { return t_com_depth; }

HRESULT QueryTable(REFIID iid, void **out, std::initializer_list<std::pair<const IID *, IUnknown *>> table,
                   bool injectable) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    HRESULT injected = S_OK;
    if (injectable) {
        injected = CheckFault(Call::QueryInterface, &iid);
        if (FAILED(injected)) return injected;
    }
    for (const auto &entry : table) {
        if (IsEqualGUID(*entry.first, iid)) {
            entry.second->AddRef();
            *out = entry.second;
            return Completed(injected);
        }
    }
    return E_NOINTERFACE;
}

std::string DebugOutput() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_debug_output;
}

void ClearDebugOutput() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_debug_output.clear();
}

std::u16string Utf16Of(const std::wstring &text) {
    std::u16string out;
    for (wchar_t w : text) {
        uint32_t c = static_cast<uint32_t>(w);
        if (c > 0x10FFFF) c = 0xFFFD;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::wstring WideOf(const char16_t *text) {
    std::wstring out;
    for (size_t i = 0; text[i] != 0; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        }
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

BSTR AllocString(const std::wstring &text) { return SysAllocString(Utf16Of(text).c_str()); }

void ResetPlatform() {
    ClearFaults();
    ResetCallCounts();
    ClearDebugOutput();
    ClearDevices();
}

}  // namespace emu

using emu::Call;
using emu::CheckFault;

HRESULT CoInitialize(LPVOID) {
    HRESULT hr = CheckFault(Call::CoInitialize);
    if (FAILED(hr)) return hr;
    return emu::t_com_depth++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (emu::t_com_depth > 0) --emu::t_com_depth;
}

namespace {
struct ClassEntry {
    const CLSID *clsid;
    HRESULT (*create)(REFIID, void **);
};
const ClassEntry kClasses[] = {
    {&CLSID_SystemDeviceEnum, emu::CreateSystemDeviceEnum},
    {&CLSID_FilterGraph, emu::CreateFilterGraph},
    {&CLSID_CaptureGraphBuilder2, emu::CreateCaptureGraphBuilder},
    {&CLSID_SampleGrabber, emu::CreateSampleGrabber},
    {&CLSID_NullRenderer, emu::CreateNullRenderer},
};
}  // namespace

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID iid, LPVOID *out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    HRESULT hr = CheckFault(Call::CoCreateInstance, &clsid);
    if (FAILED(hr)) return hr;
    if (emu::t_com_depth == 0) return CO_E_NOTINITIALIZED;
    if (outer != nullptr) return 0x80040110L;  // CLASS_E_NOAGGREGATION
    if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
    for (const ClassEntry &entry : kClasses) {
        if (IsEqualGUID(*entry.clsid, clsid)) return emu::Completed(hr, entry.create(iid, out));
    }
    return REGDB_E_CLASSNOTREG;
}

LPVOID CoTaskMemAlloc(size_t bytes) {
    if (FAILED(CheckFault(Call::CoTaskMemAlloc))) return nullptr;
    auto *header = static_cast<emu::TaskMemHeader *>(std::malloc(sizeof(emu::TaskMemHeader) + bytes));
    if (header == nullptr) return nullptr;
    header->magic = emu::kTaskMemMagic;
    header->bytes = bytes;
    emu::CountTaskMem(+1);
    return header + 1;
}

void CoTaskMemFree(LPVOID block) {
    if (block == nullptr) return;
    auto *header = static_cast<emu::TaskMemHeader *>(block) - 1;
    if (header->magic != emu::kTaskMemMagic) std::abort();  // not task memory, or freed twice
    header->magic = 0;
    emu::CountTaskMem(-1);
    std::free(header);
}

// A BSTR is a length-prefixed wide string; the prefix sits before the pointer.
BSTR SysAllocString(const OLECHAR *text) {
    if (text == nullptr) return nullptr;
    size_t chars = std::char_traits<OLECHAR>::length(text);
    auto *block = static_cast<uint32_t *>(std::malloc(sizeof(uint32_t) * 2 + (chars + 1) * sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    block[0] = 0x42535452;  // marks a live string
    block[1] = static_cast<uint32_t>(chars * sizeof(OLECHAR));
    BSTR s = reinterpret_cast<BSTR>(block + 2);
    std::char_traits<OLECHAR>::copy(s, text, chars + 1);
    emu::CountString(+1);
    return s;
}

void SysFreeString(BSTR text) {
    if (text == nullptr) return;
    auto *block = reinterpret_cast<uint32_t *>(text) - 2;
    if (block[0] != 0x42535452) std::abort();  // not a string, or freed twice
    block[0] = 0;
    emu::CountString(-1);
    std::free(block);
}

void VariantInit(VARIANT *v) {
    std::memset(v, 0, sizeof(*v));
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT *v) {
    if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
    v->vt = VT_EMPTY;
    v->llVal = 0;
    return S_OK;
}

namespace {
int HexDigit(OLECHAR c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}
bool ParseHex(const OLECHAR *text, int digits, uint64_t *value) {
    uint64_t v = 0;
    for (int i = 0; i < digits; ++i) {
        int d = HexDigit(text[i]);
        if (d < 0) return false;
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    *value = v;
    return true;
}
}  // namespace

// Registry form only: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID *out) {
    HRESULT hr = CheckFault(Call::CLSIDFromString);
    if (FAILED(hr)) return hr;
    if (text == nullptr || out == nullptr) return E_INVALIDARG;
    if (std::char_traits<OLECHAR>::length(text) != 38 || text[0] != u'{' || text[37] != u'}' || text[9] != u'-' ||
        text[14] != u'-' || text[19] != u'-' || text[24] != u'-') {
        return CO_E_CLASSSTRING;
    }
    uint64_t d1, d2, d3, d4, d5;
    if (!ParseHex(text + 1, 8, &d1) || !ParseHex(text + 10, 4, &d2) || !ParseHex(text + 15, 4, &d3) ||
        !ParseHex(text + 20, 4, &d4) || !ParseHex(text + 25, 12, &d5)) {
        return CO_E_CLASSSTRING;
    }
    out->Data1 = static_cast<uint32_t>(d1);
    out->Data2 = static_cast<uint16_t>(d2);
    out->Data3 = static_cast<uint16_t>(d3);
    out->Data4[0] = static_cast<uint8_t>(d4 >> 8);
    out->Data4[1] = static_cast<uint8_t>(d4);
    for (int i = 0; i < 6; ++i) out->Data4[2 + i] = static_cast<uint8_t>(d5 >> (8 * (5 - i)));
    return emu::Completed(hr);
}

DWORD GetLastError() { return emu::t_last_error; }
void SetLastError(DWORD error) { emu::t_last_error = error; }

// The emulated ANSI code page is UTF-8, so every Unicode name has an ANSI form.
// As on Windows: text_chars (UTF-16 units) -1 converts through the
// terminator; out_bytes 0 asks for the size; a buffer too small fails with
// ERROR_INSUFFICIENT_BUFFER (its content then undefined); only whole
// characters are written. A surrogate pair is one character (four bytes); a
// surrogate without its partner, such as a high surrogate cut off from its
// low one by text_chars, converts to U+FFFD.
int WideCharToMultiByte(UINT, DWORD, LPCWCH text, int text_chars, LPSTR out, int out_bytes, LPCCH, LPBOOL) {
    if (FAILED(CheckFault(Call::WideCharToMultiByte))) {
        emu::t_last_error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (text == nullptr || out_bytes < 0 || (out_bytes > 0 && out == nullptr)) {
        emu::t_last_error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    size_t chars = text_chars < 0 ? std::char_traits<WCHAR>::length(text) + 1 : static_cast<size_t>(text_chars);
    int written = 0;
    for (size_t i = 0; i < chars; ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < chars && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        char bytes[4];
        int n;
        if (c < 0x80) {
            bytes[0] = static_cast<char>(c);
            n = 1;
        } else if (c < 0x800) {
            bytes[0] = static_cast<char>(0xC0 | (c >> 6));
            bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
            n = 2;
        } else if (c < 0x10000) {
            bytes[0] = static_cast<char>(0xE0 | (c >> 12));
            bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
            n = 3;
        } else {
            bytes[0] = static_cast<char>(0xF0 | (c >> 18));
            bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
            n = 4;
        }
        if (out_bytes > 0) {
            if (written + n > out_bytes) {
                emu::t_last_error = ERROR_INSUFFICIENT_BUFFER;
                return 0;
            }
            std::memcpy(out + written, bytes, static_cast<size_t>(n));
        }
        written += n;
    }
    return written;
}

// wvsprintfA writes at most 1024 characters with the terminator.
int wvsprintfA(LPSTR out, LPCSTR format, va_list args) {
    int n = std::vsnprintf(out, 1024, format, args);
    if (n < 0) {
        out[0] = '\0';
        return 0;
    }
    return n < 1024 ? n : 1023;
}

void OutputDebugStringA(LPCSTR text) {
    if (text == nullptr) return;
    std::lock_guard<std::mutex> lock(emu::g_mutex);
    emu::g_debug_output += text;
}
