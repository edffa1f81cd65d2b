// Windows: the SDK's COM, DirectShow and Win32 declarations, plus the
// identifiers MinGW's headers do not declare (strmiids defines them).
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
#include <dshow.h>
#include <qedit.h>

// A wide string literal of the platform's WCHAR: KOVIC_WIDE("CLSID").
#define KOVIC_WIDE(text) L##text

extern "C" {
extern const CLSID CLSID_SampleGrabber;
extern const CLSID CLSID_NullRenderer;
extern const GUID MEDIASUBTYPE_I420;
}
