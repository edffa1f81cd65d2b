# Cross-build for 64-bit Windows with MinGW-w64 (posix thread model, so the
# tests have std::thread). Tests run under 64-bit Wine through scripts/wine64-run.
set(KOVIC_MINGW_PROCESSOR x86_64)
set(KOVIC_MINGW_TRIPLET x86_64-w64-mingw32)
set(KOVIC_WINE_RUNNER wine64-run)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-toolchain.cmake)
