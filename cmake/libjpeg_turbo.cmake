# The JPEG decoder of the MJPG path: libjpeg-turbo, behind one interface target,
# kovic_jpeg, that gives its headers and both of its interfaces (the libjpeg
# one the library decodes with, and TurboJPEG for the benchmark).
#
# Natively: the distribution's shared libraries (libjpeg62-turbo-dev,
# libturbojpeg0-dev). Cross-builds for Windows: its static TurboJPEG library
# (which holds the whole libjpeg interface too), compiled from the source tree
# in KOVIC_LIBJPEG_TURBO_SOURCE_DIR with the same toolchain and nasm for its
# SIMD code, and linked into kovic.dll, so that the DLL imports no JPEG DLL.
# scripts/setup windows unpacks that tree into build/deps/libjpeg-turbo; the
# build fetches nothing.
if(TARGET kovic_jpeg)
  return()
endif()
add_library(kovic_jpeg INTERFACE)

if(NOT CMAKE_CROSSCOMPILING)
  find_package(JPEG REQUIRED)
  find_path(KOVIC_TURBOJPEG_INCLUDE_DIR turbojpeg.h)
  find_library(KOVIC_TURBOJPEG_LIBRARY turbojpeg)
  target_link_libraries(kovic_jpeg INTERFACE JPEG::JPEG)
  # TurboJPEG is the benchmark's rival; the library itself does not use it.
  if(KOVIC_TURBOJPEG_INCLUDE_DIR AND KOVIC_TURBOJPEG_LIBRARY)
    add_library(kovic_turbojpeg INTERFACE)
    target_include_directories(kovic_turbojpeg INTERFACE ${KOVIC_TURBOJPEG_INCLUDE_DIR})
    target_link_libraries(kovic_turbojpeg INTERFACE ${KOVIC_TURBOJPEG_LIBRARY})
  endif()
  return()
endif()

set(KOVIC_LIBJPEG_TURBO_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/deps/libjpeg-turbo" CACHE PATH
    "libjpeg-turbo's source tree for the Windows builds (scripts/setup windows unpacks it)")
if(NOT EXISTS "${KOVIC_LIBJPEG_TURBO_SOURCE_DIR}/turbojpeg.h")
  message(FATAL_ERROR "No libjpeg-turbo source in ${KOVIC_LIBJPEG_TURBO_SOURCE_DIR}: run scripts/setup windows, "
                      "or set KOVIC_LIBJPEG_TURBO_SOURCE_DIR to a libjpeg-turbo source tree")
endif()
find_program(KOVIC_NASM NAMES nasm REQUIRED)
# Jobs of its own build, which runs as one step of this one.
set(KOVIC_LIBJPEG_TURBO_JOBS 2 CACHE STRING "Parallel jobs of libjpeg-turbo's build")

include(ExternalProject)
set(_jpeg_binary ${CMAKE_BINARY_DIR}/libjpeg-turbo)
set(_jpeg_library ${_jpeg_binary}/${CMAKE_STATIC_LIBRARY_PREFIX}turbojpeg${CMAKE_STATIC_LIBRARY_SUFFIX})
# Only the static TurboJPEG library is built: no shared library, tools or tests.
# Release whatever this build's type, as a system library would be. (Nothing
# is installed, but its default prefix on Windows, c:/..., breaks its configure
# step on the build machine.)
ExternalProject_Add(libjpeg_turbo_build
  SOURCE_DIR ${KOVIC_LIBJPEG_TURBO_SOURCE_DIR}
  BINARY_DIR ${_jpeg_binary}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
             -DCMAKE_ASM_NASM_COMPILER=${KOVIC_NASM} -DENABLE_SHARED=OFF -DENABLE_STATIC=ON
             -DWITH_TURBOJPEG=ON -DWITH_JAVA=OFF -DREQUIRE_SIMD=ON -DCMAKE_POSITION_INDEPENDENT_CODE=ON
             -DCMAKE_INSTALL_PREFIX=${_jpeg_binary}/unused-install-prefix -Wno-dev
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target turbojpeg-static -j ${KOVIC_LIBJPEG_TURBO_JOBS}
  BUILD_BYPRODUCTS ${_jpeg_library}
  INSTALL_COMMAND ""
  TEST_COMMAND ""
  # Its configure step prints pages; the log files keep them.
  LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)

# jpeglib.h is in the source tree, jconfig.h is written into the build tree.
file(MAKE_DIRECTORY ${_jpeg_binary})
add_library(kovic_libjpeg_turbo_static STATIC IMPORTED GLOBAL)
set_target_properties(kovic_libjpeg_turbo_static PROPERTIES IMPORTED_LOCATION ${_jpeg_library})
add_dependencies(kovic_libjpeg_turbo_static libjpeg_turbo_build)
target_include_directories(kovic_jpeg INTERFACE ${KOVIC_LIBJPEG_TURBO_SOURCE_DIR} ${_jpeg_binary})
target_link_libraries(kovic_jpeg INTERFACE kovic_libjpeg_turbo_static)
add_library(kovic_turbojpeg INTERFACE)
target_link_libraries(kovic_turbojpeg INTERFACE kovic_jpeg)
