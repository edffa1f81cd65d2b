// The shared library's own translation unit. Loading and unloading the library
// do nothing of their own: every export is in kovic_core.
