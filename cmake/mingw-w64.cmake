# The older name of the 64-bit Windows cross-build, kept for build trees
# configured with it.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)
