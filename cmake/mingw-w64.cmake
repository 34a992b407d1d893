# Shared by the two cross toolchains: mingw-w64 for the target that KIVO_MINGW_TRIPLE names,
# with the test programs run under Wine by the loader for that architecture.

# The posix threading variant, because GoogleTest needs std::mutex and friends.
set(CMAKE_C_COMPILER ${KIVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KIVO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KIVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Picks Wine's 32- or 64-bit loader, sets up the project's prefix, and reports a machine
# that cannot run 32-bit programs as a skipped test rather than a failed one.
get_filename_component(KIVO_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KIVO_WINE_RUN} ${KIVO_WINE_ARCH})
