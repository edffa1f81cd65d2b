// The device catalogue: a doubly linked list of DeviceRecord in static storage.
#include "devices/device_catalogue.h"

#include <cstring>
#include <string>

#include "devices/device_monikers.h"
#include "platform/hresult_tests.h"

namespace kovic {
namespace {

DeviceCatalogue g_catalogue = {nullptr, nullptr};

bool CatalogueEmpty() { return g_catalogue.head == nullptr || g_catalogue.tail == nullptr; }

// Reads a string property; the VARIANT is cleared on every path.
bool ReadStringProperty(IPropertyBag *bag, const WCHAR *name, void (*use)(const WCHAR *, void *), void *context) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    // Only S_OK carries a string.
    HRESULT hr = bag->Read(name, &value, nullptr);
    bool ok = CallSucceededExactly(hr) && value.vt == VT_BSTR && value.bstrVal != nullptr;
    if (ok) use(value.bstrVal, context);
    VariantClear(&value);
    return ok;
}

}  // namespace

void AppendDevice(DeviceRecord *record) {
    if (g_catalogue.head == nullptr) {
        record->previous = nullptr;
        record->next = nullptr;
        g_catalogue.head = record;
        g_catalogue.tail = record;
        return;
    }
    g_catalogue.tail->next = record;
    record->previous = g_catalogue.tail;
    record->next = nullptr;
    g_catalogue.tail = record;
}

int32_t CountDevices() {
    if (CatalogueEmpty()) return 0;
    int32_t count = 0;
    for (DeviceRecord *r = g_catalogue.head; r != nullptr; r = r->next) ++count;
    return count;
}

DeviceRecord *DeviceAt(int32_t index) {
    if (index < 0 || CatalogueEmpty()) return nullptr;
    int32_t position = 0;
    for (DeviceRecord *r = g_catalogue.head; r != nullptr; r = r->next, ++position) {
        if (position == index) return r;
    }
    return nullptr;
}

void FreeDevices() {
    if (CatalogueEmpty()) return;
    while (g_catalogue.head != nullptr) {
        DeviceRecord *r = g_catalogue.head;
        g_catalogue.head = r->next;
        FreeMemory(r);
    }
    g_catalogue.head = nullptr;
    g_catalogue.tail = nullptr;
}

void ConvertDeviceName(const WCHAR *text, char (&name)[kDeviceNameBytes]) {
    std::memset(name, 0, sizeof(name));
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, name, kDeviceNameBytes, nullptr, nullptr) > 0) return;
    // Too long (or unconvertible): keep the longest prefix of whole characters
    // whose ANSI form fits in 79 bytes. The size needed grows with the prefix,
    // so a binary search over the prefix length finds it.
    std::memset(name, 0, sizeof(name));
    int chars = static_cast<int>(std::char_traits<WCHAR>::length(text));
    int low = 0, high = chars;
    while (low < high) {
        int mid = low + (high - low + 1) / 2;
        int needed = WideCharToMultiByte(CP_ACP, 0, text, mid, nullptr, 0, nullptr, nullptr);
        if (needed > 0 && needed < kDeviceNameBytes) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    // Never end between the two halves of a UTF-16 surrogate pair: a high
    // (leading) surrogate at the end goes with the character it starts.
    if (low > 0 && text[low - 1] >= 0xD800 && text[low - 1] <= 0xDBFF) --low;
    if (low == 0) return;
    int written = WideCharToMultiByte(CP_ACP, 0, text, low, name, kDeviceNameBytes - 1, nullptr, nullptr);
    if (written <= 0) std::memset(name, 0, sizeof(name));
}

int EnumerateDevices(REFCLSID category) {
    // The catalogue asks for the enumerator as an in-process server and takes
    // nothing short of S_OK: a listing that is not sure of its enumerator lists
    // nothing. It names each device from its property bag, so a device whose
    // bag will not open gets no record (binding still counts it).
    const MonikerWalk catalogue_walk = {CLSCTX_INPROC_SERVER, ResultTest::kExactSuccess,
                                        /*open_property_bags=*/true};
    const bool walked = WalkDeviceMonikers(category, catalogue_walk, [](int, IMoniker *, IPropertyBag *bag) {
        auto *record = static_cast<DeviceRecord *>(AllocateMemory(sizeof(DeviceRecord)));
        if (record == nullptr) return true;  // skip the device rather than write through nothing
        std::memset(record, 0, sizeof(*record));

        ReadStringProperty(
            bag, KOVIC_WIDE("FriendlyName"),
            [](const WCHAR *text, void *r) { ConvertDeviceName(text, static_cast<DeviceRecord *>(r)->friendly_name); },
            record);
        ReadStringProperty(
            bag, KOVIC_WIDE("CLSID"),
            [](const WCHAR *text, void *r) {
                auto *rec = static_cast<DeviceRecord *>(r);
                if (CLSIDFromString(const_cast<WCHAR *>(text), &rec->class_id) < 0) {
                    std::memset(&rec->class_id, 0, sizeof(rec->class_id));
                }
            },
            record);
        AppendDevice(record);
        return true;
    });
    return walked ? 1 : 0;
}

}  // namespace kovic
