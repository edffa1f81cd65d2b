// The DLL's entry points: class object, unload test, registration, and the
// live-object count for tests. Registration runs on the caller's thread and
// initialises COM there for its own calls.
#include "module.h"

#include <olectl.h>

#include <cwchar>

#include "class_factory.h"
#include "video_format.h"

namespace vcam {
namespace {

volatile LONG g_live_objects = 0;
volatile LONG g_connected_compression = 0;
volatile LONG g_module_locks = 0;
HMODULE g_module = nullptr;

// "CLSID\{...}" under HKEY_CLASSES_ROOT; `name` holds at least 64 characters.
void ClsidKeyName(wchar_t *name) {
    std::wcscpy(name, L"CLSID\\");
    std::wcscat(name, kVirtualCameraClsidText);
}

// Writes one string value; false on any failure.
bool SetStringValue(HKEY key, const wchar_t *name, const wchar_t *value) {
    DWORD bytes = static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value), bytes) == ERROR_SUCCESS;
}

// HKCR\CLSID\{clsid} (default: the name) with InprocServer32 (default: this
// DLL's path as it was loaded, ThreadingModel Both).
HRESULT RegisterComServer() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    wchar_t key_name[128];
    ClsidKeyName(key_name);
    HKEY clsid_key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key_name, 0, nullptr, 0, KEY_WRITE, nullptr, &clsid_key, nullptr) !=
        ERROR_SUCCESS) {
        return SELFREG_E_CLASS;
    }
    HKEY server_key = nullptr;
    bool ok = SetStringValue(clsid_key, nullptr, kDefaultFriendlyName) &&
              RegCreateKeyExW(clsid_key, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server_key,
                              nullptr) == ERROR_SUCCESS;
    if (ok) {
        ok = SetStringValue(server_key, nullptr, path) && SetStringValue(server_key, L"ThreadingModel", L"Both");
        RegCloseKey(server_key);
    }
    RegCloseKey(clsid_key);
    return ok ? S_OK : SELFREG_E_CLASS;
}

// The device entry in the video input category: one output pin of video on
// the capture category. Its instance key is named after the class.
HRESULT RegisterDevice(IFilterMapper2 *mapper) {
    REGPINTYPES pin_type = {&MEDIATYPE_Video, &GUID_NULL};
    REGFILTERPINS2 pin;
    ZeroMemory(&pin, sizeof(pin));
    pin.dwFlags = REG_PINFLAG_B_OUTPUT;
    pin.cInstances = 1;
    pin.nMediaTypes = 1;
    pin.lpMediaType = &pin_type;
    pin.clsPinCategory = &PIN_CATEGORY_CAPTURE;
    REGFILTER2 filter;
    ZeroMemory(&filter, sizeof(filter));
    filter.dwVersion = 2;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins2 = 1;
    filter.rgPins2 = &pin;
    return mapper->RegisterFilter(kVirtualCameraClsid, kDefaultFriendlyName, nullptr, &CLSID_VideoInputDeviceCategory,
                                  nullptr, &filter);
}

// Runs `work` with a filter mapper on a thread where COM is initialised.
template <class Work>
HRESULT WithFilterMapper(Work work) {
    HRESULT init = CoInitialize(nullptr);
    IFilterMapper2 *mapper = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void **>(&mapper));
    if (SUCCEEDED(hr)) {
        hr = work(mapper);
        mapper->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return hr;
}

}  // namespace

void ObjectCreated() { InterlockedIncrement(&g_live_objects); }
void ObjectDestroyed() { InterlockedDecrement(&g_live_objects); }
long LiveObjects() { return InterlockedCompareExchange(&g_live_objects, 0, 0); }

void NoteConnectedCompression(DWORD compression) {
    InterlockedExchange(&g_connected_compression, static_cast<LONG>(compression));
}
DWORD LastConnectedCompression() {
    return static_cast<DWORD>(InterlockedCompareExchange(&g_connected_compression, 0, 0));
}
void LockModule() { InterlockedIncrement(&g_module_locks); }
void UnlockModule() { InterlockedDecrement(&g_module_locks); }
long ModuleLocks() { return InterlockedCompareExchange(&g_module_locks, 0, 0); }
HMODULE ModuleHandle() { return g_module; }

}  // namespace vcam

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        vcam::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, vcam::kVirtualCameraClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return vcam::FilterClassFactory()->QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow() { return vcam::LiveObjects() == 0 && vcam::ModuleLocks() == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    HRESULT hr = vcam::RegisterComServer();
    if (FAILED(hr)) return hr;
    return vcam::WithFilterMapper([](IFilterMapper2 *mapper) { return vcam::RegisterDevice(mapper); });
}

STDAPI DllUnregisterServer() {
    HRESULT hr = vcam::WithFilterMapper([](IFilterMapper2 *mapper) {
        return mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, nullptr, vcam::kVirtualCameraClsid);
    });
    wchar_t key_name[128];
    vcam::ClsidKeyName(key_name);
    LSTATUS deleted = RegDeleteTreeW(HKEY_CLASSES_ROOT, key_name);
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return SELFREG_E_CLASS;
    return FAILED(hr) ? hr : S_OK;
}

// For tests: filters and enumerators alive in this process.
LONG WINAPI VcamLiveObjectCount() { return vcam::LiveObjects(); }

// For tests: the four-character code (biCompression) of the format an output
// pin last connected in, so that a test can tell which of a size's formats
// the host's graph chose; BI_RGB (0) for RGB formats and before any.
DWORD WINAPI VcamConnectedCompression() { return vcam::LastConnectedCompression(); }

}  // extern "C"
