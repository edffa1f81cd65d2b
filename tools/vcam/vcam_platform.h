// The SDK declarations every file of the virtual camera includes (COM,
// DirectShow, registry), with the identifiers MinGW's headers lack.
#pragma once

#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE  // dshow.h pulls in strsafe.h, which otherwise deprecates CRT string calls
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <ocidl.h>
#include <dshow.h>

namespace vcam {

// The class of the virtual camera filter: {C607D6ED-81CF-40BE-B1BF-3887E8C384E9}.
extern const CLSID kVirtualCameraClsid;
extern const wchar_t kVirtualCameraClsidText[];
// The name the filter is registered under when no device profile names it.
extern const wchar_t kDefaultFriendlyName[];

}  // namespace vcam
