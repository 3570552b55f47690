# Cross-compiling for Windows x86-64 with Debian's MinGW-w64 (posix threads: the framework uses
# std::thread and std::mutex), and Debian's JUCE package for the framework's CMake files.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${CANTORA_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Everything static: the program then imports only DLLs that every Windows has. No link time in the
# headers, so that the same sources link to the same bytes. Release builds are stripped.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# The folder of the libraries built from Debian's sources is searched like the MinGW root.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CANTORA_WINDOWS_DEPS)
