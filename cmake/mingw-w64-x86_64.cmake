# Cross-build for 64-bit Windows (x64) with mingw-w64; the test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KIVO_MINGW_TRIPLE x86_64-w64-mingw32)
set(KIVO_WINE_ARCH x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
