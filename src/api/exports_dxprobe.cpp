// The DirectX runtime probe export: no library state, any thread.
#include "dxprobe/dx_probe.h"
#include "kovic.h"

extern "C" KOVIC_API unsigned int KOVIC_CALL MirelGetDXVersion(void) { return kovic::ProbeDirectXVersion(); }
