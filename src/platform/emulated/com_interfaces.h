// COM and DirectShow interfaces for the emulated platform: the SDK's names and
// method signatures, in the SDK's slot order, holding only the methods the
// library calls (and, for interfaces the library implements, all of theirs).
#pragma once

#include "platform/emulated/win_types.h"

// The published identifiers are exported by libkovic.so with the host API,
// whose device descriptions use them.
#define EMU_PUBLISHED __attribute__((visibility("default")))

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IBindCtx;
struct IErrorLog;
struct IBaseFilter;
struct IPin;
struct IMediaSample;

struct IPropertyBag : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT *value, IErrorLog *log) = 0;
};

struct IMoniker : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx *ctx, IMoniker *left, REFIID iid, void **out) = 0;
    virtual HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx *ctx, IMoniker *left, REFIID iid, void **out) = 0;
};

struct IEnumMoniker : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker **out, ULONG *fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
};

struct ICreateDevEnum : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker **out, DWORD flags) = 0;
};

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

struct PIN_INFO {
    IBaseFilter *pFilter;
    PIN_DIRECTION dir;
    WCHAR achName[128];
};

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown *pUnk;
    ULONG cbFormat;
    BYTE *pbFormat;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) + offsetof(BITMAPINFOHEADER, biWidth) == 52, "biWidth at 52");
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) + offsetof(BITMAPINFOHEADER, biHeight) == 56, "biHeight at 56");
static_assert(sizeof(VIDEOINFOHEADER) == 88, "VIDEOINFOHEADER is 88 bytes");

// The format block of FORMAT_VideoInfo2: the same leading fields, then
// interlacing, aspect ratio and control flags before the bitmap header.
struct VIDEOINFOHEADER2 {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    DWORD dwInterlaceFlags;
    DWORD dwCopyProtectFlags;
    DWORD dwPictAspectRatioX;
    DWORD dwPictAspectRatioY;
    DWORD dwControlFlags;
    DWORD dwReserved2;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader) + offsetof(BITMAPINFOHEADER, biWidth) == 76, "biWidth at 76");
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader) + offsetof(BITMAPINFOHEADER, biHeight) == 80, "biHeight at 80");
static_assert(sizeof(VIDEOINFOHEADER2) == 112, "VIDEOINFOHEADER2 is 112 bytes");

struct IEnumPins : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **out, ULONG *fetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
};

struct IPin : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **peer) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *info) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *direction) = 0;
};

struct IBaseFilter : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **out) = 0;
};

struct IGraphBuilder : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter *filter, LPCWSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter *filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectDirect(IPin *out_pin, IPin *in_pin, const AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT STDMETHODCALLTYPE Disconnect(IPin *pin) = 0;
    virtual HRESULT STDMETHODCALLTYPE Connect(IPin *out_pin, IPin *in_pin) = 0;
};

struct ICaptureGraphBuilder2 : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder *graph) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindInterface(const GUID *category, const GUID *type, IBaseFilter *filter,
                                                    REFIID iid, void **out) = 0;
};

struct IAMStreamConfig : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE **type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int *count, int *size) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *caps) = 0;
};

struct ISampleGrabberCB : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SampleCB(double sample_time, IMediaSample *sample) = 0;
    virtual HRESULT STDMETHODCALLTYPE BufferCB(double sample_time, BYTE *buffer, LONG length) = 0;
};

struct ISampleGrabber : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetOneShot(BOOL one_shot) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB *callback, LONG which_method) = 0;
};

struct IMediaControl : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Run() = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
};

// DirectShow's own result codes, as the framework returns them.
#define VFW_E_INVALIDMEDIATYPE ((HRESULT)0x80040200L)
#define VFW_E_ALREADY_CONNECTED ((HRESULT)0x80040204L)
#define VFW_E_NO_ACCEPTABLE_TYPES ((HRESULT)0x80040207L)
#define VFW_E_INVALID_DIRECTION ((HRESULT)0x80040208L)
#define VFW_E_NOT_CONNECTED ((HRESULT)0x80040209L)
#define VFW_E_CANNOT_CONNECT ((HRESULT)0x80040217L)
#define VFW_E_NOT_STOPPED ((HRESULT)0x80040224L)
#define VFW_E_TYPE_NOT_ACCEPTED ((HRESULT)0x8004022AL)
#define VFW_E_WRONG_STATE ((HRESULT)0x80040227L)
#define VFW_E_DUPLICATE_NAME ((HRESULT)0x8004022DL)
#define VFW_E_NOT_IN_GRAPH ((HRESULT)0x8004025FL)

EMU_PUBLISHED extern const IID IID_IUnknown;
EMU_PUBLISHED extern const IID IID_IPropertyBag;
EMU_PUBLISHED extern const IID IID_IMoniker;
EMU_PUBLISHED extern const IID IID_IEnumMoniker;
EMU_PUBLISHED extern const IID IID_ICreateDevEnum;
EMU_PUBLISHED extern const IID IID_IBaseFilter;
EMU_PUBLISHED extern const IID IID_IEnumPins;
EMU_PUBLISHED extern const IID IID_IPin;
EMU_PUBLISHED extern const IID IID_IGraphBuilder;
EMU_PUBLISHED extern const IID IID_ICaptureGraphBuilder2;
EMU_PUBLISHED extern const IID IID_IAMStreamConfig;
EMU_PUBLISHED extern const IID IID_ISampleGrabber;
EMU_PUBLISHED extern const IID IID_ISampleGrabberCB;
EMU_PUBLISHED extern const IID IID_IMediaControl;
EMU_PUBLISHED extern const CLSID CLSID_SystemDeviceEnum;
EMU_PUBLISHED extern const CLSID CLSID_VideoInputDeviceCategory;
EMU_PUBLISHED extern const CLSID CLSID_CaptureGraphBuilder2;
EMU_PUBLISHED extern const CLSID CLSID_FilterGraph;
EMU_PUBLISHED extern const CLSID CLSID_SampleGrabber;
EMU_PUBLISHED extern const CLSID CLSID_NullRenderer;
EMU_PUBLISHED extern const GUID PIN_CATEGORY_CAPTURE;
EMU_PUBLISHED extern const GUID PIN_CATEGORY_PREVIEW;
EMU_PUBLISHED extern const GUID MEDIATYPE_Video;
EMU_PUBLISHED extern const GUID MEDIATYPE_Interleaved;
EMU_PUBLISHED extern const GUID MEDIASUBTYPE_RGB24;
EMU_PUBLISHED extern const GUID MEDIASUBTYPE_I420;
EMU_PUBLISHED extern const GUID MEDIASUBTYPE_YUY2;
EMU_PUBLISHED extern const GUID MEDIASUBTYPE_UYVY;
EMU_PUBLISHED extern const GUID MEDIASUBTYPE_NV12;
EMU_PUBLISHED extern const GUID MEDIASUBTYPE_IYUV;
EMU_PUBLISHED extern const GUID MEDIASUBTYPE_YV12;
EMU_PUBLISHED extern const GUID MEDIASUBTYPE_RGB32;
EMU_PUBLISHED extern const GUID MEDIASUBTYPE_MJPG;
EMU_PUBLISHED extern const GUID FORMAT_VideoInfo;
EMU_PUBLISHED extern const GUID FORMAT_VideoInfo2;
EMU_PUBLISHED extern const GUID GUID_NULL;
