# Cross build for 64-bit Windows. The -posix flavour of the compiler is the one
# whose libstdc++ has std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Without -static the programs need the toolchain's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# ctest runs the Windows programs under wine, in the private prefix that
# scripts/wine-session.sh keeps (tests require its session as a fixture) and
# with the locale it sets.
get_filename_component(_qor_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(QOR_WINE_PREFIX "${_qor_source_dir}/build/wine-prefix"
    CACHE PATH "Private wine prefix of the test runs")
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${QOR_WINE_PREFIX}
    ${_qor_source_dir}/scripts/wine-session.sh run)
