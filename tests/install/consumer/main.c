#include <kovic.h>

int main(void) {
    if (KOVICCreate() != KOVIC_OK) return 1;
    return KOVICGetVideoDeviceCount() >= 0 && KOVICIsPreviewing(0) == KOVIC_E_NULL_HANDLE ? 0 : 2;
}
