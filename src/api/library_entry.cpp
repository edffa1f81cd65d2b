// The shared library's own translation unit: every export is in kovic_core.
// Loading the library does nothing of its own; unloading it frees the device
// catalogue, which otherwise lives until the process ends, so that a host
// that loads and frees the library again and again leaks nothing.
#include "devices/device_catalogue.h"

namespace {

__attribute__((destructor)) void FreeCatalogueOnUnload() { kovic::FreeDevices(); }

}  // namespace
