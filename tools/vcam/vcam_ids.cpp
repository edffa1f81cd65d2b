// Identifiers of the virtual camera; constant data, no lifetime rule.
#include "vcam_platform.h"

namespace vcam {

const CLSID kVirtualCameraClsid = {0xc607d6ed, 0x81cf, 0x40be, {0xb1, 0xbf, 0x38, 0x87, 0xe8, 0xc3, 0x84, 0xe9}};
const wchar_t kVirtualCameraClsidText[] = L"{C607D6ED-81CF-40BE-B1BF-3887E8C384E9}";
const wchar_t kDefaultFriendlyName[] = L"Kovic Virtual Camera";

}  // namespace vcam
