# What the two Windows cross-builds share; the including file sets
# SKERROW_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR. The POSIX-thread
# compilers give std::thread and std::mutex without extra libraries.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${SKERROW_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SKERROW_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SKERROW_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SKERROW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Without -static the programs need libstdc++-6.dll and friends at run time
# and fail to load with error 126 on a PC that lacks them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian's wine starts 32- and 64-bit programs alike (the 32-bit side needs
# the wine32:i386 package).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
