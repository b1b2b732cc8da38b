# GoogleTest: Debian's packaged library natively; for the Windows
# cross-build, compiled from the sources that the googletest package installs.
if(CMAKE_CROSSCOMPILING)
  set(SKERROW_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${SKERROW_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's own build already defines the GTest:: aliases.
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# skerrow_add_test(NAME [LABELS l1 l2] SOURCES a.cpp b.cpp LIBS lib1 lib2)
#
# Natively every test case becomes its own ctest entry. Under Wine each
# process start costs far more, so the cross-build registers one ctest entry
# per test program and lets GoogleTest report the cases.
function(skerrow_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gtest)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS "${T_LABELS}")
  else()
    gtest_discover_tests(${name} TEST_PREFIX "${name}." DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT 300 LABELS "${T_LABELS}")
  endif()
endfunction()
