# Cross-build for 32-bit Windows: the build that loads 32-bit camera modules.
set(SKERROW_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
