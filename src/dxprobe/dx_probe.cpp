// Until the ladder over the DirectX runtime is in place, the probe proves no
// release: it answers as a machine without DirectDraw does.
#include "dxprobe/dx_probe.h"

#include "platform/platform.h"

namespace kovic {

unsigned int ProbeDirectXVersion() {
    OutputDebugStringA("Couldn't LoadLibrary DDraw\r\n");
    return 0;
}

}  // namespace kovic
