// The walk over one device category's monikers that the device catalogue and
// device binding share: the system device enumerator, the category's moniker
// enumerator, and each moniker in the enumerator's order. Where the two differ
// the caller says how (MonikerWalk). Host thread only, with COM initialised
// there.
#pragma once

#include "platform/com_ptr.h"
#include "platform/hresult_tests.h"

namespace kovic {

struct MonikerWalk {
    // Class context the system device enumerator is created with.
    DWORD enumerator_context;
    // The test its creation must pass.
    ResultTest creation_test;
    // True: each moniker's property bag is opened (BindToStorage) and handed
    // to the visitor, and a moniker whose bag will not open is passed over.
    // False: every moniker is visited, without a bag.
    bool open_property_bags;
};

// Visits the monikers of `category` one at a time, in the enumerator's order:
// visit(position, moniker, bag) with the position counted over every moniker
// the enumerator yields (passed-over ones included) and bag null unless the
// walk opens bags. The visitor returns false to end the walk. The walk also
// ends at the first fetch that does not give exactly S_OK (S_FALSE: no moniker
// remains). Returns false when the system device enumerator or the category's
// enumerator was not obtained (an empty category gives S_FALSE and none).
// Each moniker is released after its visit (its bag first), and the
// enumerator after the last.
template <class Visit>
bool WalkDeviceMonikers(REFCLSID category, const MonikerWalk &walk, Visit visit) {
    ComPtr<ICreateDevEnum> device_enum;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, walk.enumerator_context, IID_ICreateDevEnum,
                                  device_enum.ReleaseAndGetVoidAddressOf());
    if (!Passes(walk.creation_test, hr) || !device_enum) return false;
    ComPtr<IEnumMoniker> monikers;
    hr = device_enum->CreateClassEnumerator(category, monikers.ReleaseAndGetAddressOf(), 0);
    device_enum.Reset();  // released right after the call, whatever its result
    if (!CallSucceededExactly(hr) || !monikers) return false;
    monikers->Reset();
    for (int position = 0;; ++position) {
        ComPtr<IMoniker> moniker;
        ULONG fetched = 0;
        if (!CallSucceededExactly(monikers->Next(1, moniker.ReleaseAndGetAddressOf(), &fetched)) || !moniker) {
            return true;
        }
        ComPtr<IPropertyBag> bag;
        if (walk.open_property_bags &&
            (CallFailed(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReleaseAndGetVoidAddressOf())) ||
             !bag)) {
            continue;
        }
        if (!visit(position, moniker.Get(), bag.Get())) return true;
    }
}

}  // namespace kovic
