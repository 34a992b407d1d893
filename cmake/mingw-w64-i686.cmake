# Cross-build for 32-bit Windows (x86) with mingw-w64; the test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KIVO_MINGW_TRIPLE i686-w64-mingw32)
set(KIVO_WINE_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
