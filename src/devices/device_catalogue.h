// DeviceCatalogue: the process-wide list of video input devices, built by
// KOVICCreate on the host's thread and only read afterwards. No lock: the host
// must not rebuild it while another thread reads it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace kovic {

constexpr int kDeviceNameBytes = 80;

struct DeviceRecord {
    CLSID class_id;                       // from "CLSID"; zero when unreadable
    char friendly_name[kDeviceNameBytes];  // ANSI, zero-terminated, zero-filled after the terminator
    DeviceRecord *previous;
    DeviceRecord *next;
};

struct DeviceCatalogue {
    DeviceRecord *head;
    DeviceRecord *tail;
};

void AppendDevice(DeviceRecord *record);
int32_t CountDevices();
DeviceRecord *DeviceAt(int32_t index);
void FreeDevices();
// Appends one record per device of `category` whose property bag opens; 1 when
// the enumeration ran, 0 when the enumerator or category enumerator was not had.
int EnumerateDevices(REFCLSID category);

// Converts a device's wide name into the 80-byte field: zero-filled, cut short
// at a character boundary when its ANSI form is too long, empty when it
// cannot be converted at all.
void ConvertDeviceName(const WCHAR *text, char (&name)[kDeviceNameBytes]);

}  // namespace kovic
