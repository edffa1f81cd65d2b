// Building blocks of the emulated platform's objects: the live-counted,
// reference-counted base, the fault check every emulated call begins with, and
// the class table behind CoCreateInstance. Internal to src/platform/emulated/.
#pragma once

#include <atomic>
#include <initializer_list>
#include <string>
#include <utility>

#include "platform/emulated/host_api.h"

namespace emu {

// Returns the injected result for this call, or S_OK when it is to proceed.
// Counts the call either way. An injected success code other than S_OK lets the
// call do its work and then return that code (see Completed).
HRESULT CheckFault(Call call, const GUID *target = nullptr);

// The result of a call that did its work: an injected partial success (S_FALSE,
// say) replaces a natural S_OK, so a caller's "only S_OK" tests can be exercised.
inline HRESULT Completed(HRESULT injected, HRESULT natural = S_OK) {
    return (natural == S_OK && SUCCEEDED(injected)) ? injected : natural;
}

// QueryInterface over a table of (identifier, interface) pairs: the contract's
// out pointer (null on E_NOINTERFACE) and an added reference. `injectable`
// false is for the platform's own queries, which are neither counted nor failed.
HRESULT QueryTable(REFIID iid, void **out, std::initializer_list<std::pair<const IID *, IUnknown *>> table,
                   bool injectable);

void CountComObject(int delta);
void CountTaskMem(int delta);
void CountString(int delta);

// Base of every emulated COM object: counted while alive, deleted by the last
// Release (whose return value is then 0).
class EmuObject {
public:
    EmuObject() { CountComObject(+1); }
    virtual ~EmuObject() { CountComObject(-1); }
    EmuObject(const EmuObject &) = delete;
    EmuObject &operator=(const EmuObject &) = delete;

protected:
    ULONG AddRefImpl() { return ++refs_; }
    ULONG ReleaseImpl() {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    // QueryInterface over a table of (identifier, interface) pairs: the
    // contract's out pointer (null on E_NOINTERFACE) and an added reference.
    HRESULT QueryImpl(REFIID iid, void **out, std::initializer_list<std::pair<const IID *, IUnknown *>> table,
                      bool injectable = true) {
        return QueryTable(iid, out, table, injectable);
    }

private:
    std::atomic<ULONG> refs_{1};
};

#define EMU_REFCOUNT_METHODS                                              \
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); } \
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

// Creators behind CoCreateInstance; each returns a new object (one reference)
// through `out` for `iid`, or E_NOINTERFACE.
HRESULT CreateSystemDeviceEnum(REFIID iid, void **out);
HRESULT CreateFilterGraph(REFIID iid, void **out);
HRESULT CreateCaptureGraphBuilder(REFIID iid, void **out);
HRESULT CreateSampleGrabber(REFIID iid, void **out);
HRESULT CreateNullRenderer(REFIID iid, void **out);

// Text helpers shared by the emulated services. The host API names things in
// std::wstring (one wchar_t a character); COM speaks UTF-16 (WCHAR).
// A character outside the Basic Multilingual Plane becomes a surrogate pair; a
// value that is no character (above U+10FFFF) becomes U+FFFD; a lone surrogate
// is kept as it is.
std::u16string Utf16Of(const std::wstring &text);
// The reverse: surrogate pairs joined, anything else unit by unit.
std::wstring WideOf(const char16_t *text);
BSTR AllocString(const std::wstring &text);

}  // namespace emu
