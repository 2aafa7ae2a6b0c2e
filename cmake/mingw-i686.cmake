# Cross-compiles for 32-bit Windows with MinGW-w64 (i686), win32 thread model.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(_prefix i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${_prefix}-gcc-win32 ${_prefix}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_prefix}-g++-win32 ${_prefix}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Reproducible programs: no link time stamp in the PE headers, and no build machine's
# folders in them (the project's and the decoder's sources, the build folder: e.g. in
# __FILE__ of assertions).
set(_maps "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.")
if(DBG32_ZYDIS_SOURCE_DIR)
    string(APPEND _maps " -ffile-prefix-map=${DBG32_ZYDIS_SOURCE_DIR}=zydis")
endif()
string(APPEND _maps " -ffile-prefix-map=${CMAKE_BINARY_DIR}=build")
set(CMAKE_C_FLAGS_INIT "${_maps}")
set(CMAKE_CXX_FLAGS_INIT "${_maps}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--no-insert-timestamp")
