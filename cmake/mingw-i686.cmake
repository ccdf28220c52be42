# Cross-compiling for 32-bit x86 Windows with mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Floating-point arithmetic in SSE2 doubles, as on x86-64: the x87 unit's
# extended precision would round some report lines' last decimal otherwise,
# so that the two builds print different numbers for the same readings.
# (Compile options, not the cached CMAKE_CXX_FLAGS, so that an existing build
# directory takes them too.)
add_compile_options(-msse2 -mfpmath=sse)
