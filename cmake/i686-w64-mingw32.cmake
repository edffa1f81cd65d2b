# Cross-build for 32-bit Windows with MinGW-w64 (posix thread model, so the
# tests have std::thread). Tests run under 32-bit Wine through scripts/wine-run.
set(KOVIC_MINGW_PROCESSOR i686)
set(KOVIC_MINGW_TRIPLET i686-w64-mingw32)
set(KOVIC_WINE_RUNNER wine-run)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-toolchain.cmake)
