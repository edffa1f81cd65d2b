// Building blocks of the emulated platform's objects: the live-counted,
// reference-counted base, the fault check every emulated call begins with, and
// the class table behind CoCreateInstance. Internal to src/platform/emulated/.
#pragma once

#include <atomic>
#include <initializer_list>
#include <utility>

#include "platform/emulated/host_api.h"

namespace emu {

// Returns the injected failure for this call, or S_OK when it is to proceed.
// Counts the call either way.
HRESULT CheckFault(Call call, const GUID *target = nullptr);

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
                      bool injectable = true);

private:
    std::atomic<ULONG> refs_{1};
};

#define EMU_REFCOUNT_METHODS                                              \
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); } \
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

// Creators behind CoCreateInstance; each returns a new object (one reference)
// through `out` for `iid`, or E_NOINTERFACE.
HRESULT CreateSystemDeviceEnum(REFIID iid, void **out);

// Text helpers shared by the emulated services.
BSTR AllocString(const std::wstring &text);

}  // namespace emu
