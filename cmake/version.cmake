# The version line of skerrow and skerrowctl: `git describe` of the source
# tree and the kind of build, in a generated header skerrow_version.h.
#
# Included from the top CMakeLists.txt once both programs are defined, it
# adds a step that runs at every build; the step runs this same file as a
# script (cmake -P) and rewrites the header only when the text changed, so a
# new commit or an edit shows in the next build without a fresh configure,
# and an unchanged tree recompiles nothing.

# Writes the header from SKERROW_SOURCE_DIR, SKERROW_GIT, SKERROW_BUILD_TEXT
# and SKERROW_VERSION_HEADER.
function(skerrow_write_version_header)
  set(describe "unknown")
  if(SKERROW_GIT)
    # Only the project's own repository counts: a source tree unpacked inside
    # some other repository must not take that one's version.
    execute_process(COMMAND "${SKERROW_GIT}" rev-parse --show-toplevel
                    WORKING_DIRECTORY "${SKERROW_SOURCE_DIR}"
                    RESULT_VARIABLE top_result OUTPUT_VARIABLE top
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    get_filename_component(top "${top}" REALPATH)
    get_filename_component(source "${SKERROW_SOURCE_DIR}" REALPATH)
    if(top_result EQUAL 0 AND top STREQUAL source)
      execute_process(COMMAND "${SKERROW_GIT}" describe --tags --always --dirty
                      WORKING_DIRECTORY "${SKERROW_SOURCE_DIR}"
                      RESULT_VARIABLE result OUTPUT_VARIABLE text
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(result EQUAL 0 AND NOT text STREQUAL "")
        set(describe "${text}")
      endif()
    endif()
  endif()
  # The text goes into a C string and into file names: keep it to the
  # characters a tag name normally holds.
  string(REGEX REPLACE "[^A-Za-z0-9._+-]" "_" describe "${describe}")
  set(content "// Written by cmake/version.cmake at every build, not by hand.\n"
              "#pragma once\n"
              "#define SKERROW_VERSION \"${describe}\"\n"
              "#define SKERROW_BUILD \"${SKERROW_BUILD_TEXT}\"\n")
  string(CONCAT content ${content})
  set(old "")
  if(EXISTS "${SKERROW_VERSION_HEADER}")
    file(READ "${SKERROW_VERSION_HEADER}" old)
  endif()
  if(NOT old STREQUAL content)
    file(WRITE "${SKERROW_VERSION_HEADER}" "${content}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  skerrow_write_version_header()
  return()
endif()

# The kind of build: system, architecture, compiler, static or not.
set(_arch "${CMAKE_SYSTEM_PROCESSOR}")
if(_arch MATCHES "^([xX]86_64|AMD64|amd64|[iI][3-6]86|[xX]86)$")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_arch "x86")
  else()
    set(_arch "x64")
  endif()
elseif(_arch MATCHES "^(aarch64|arm64|ARM64)$")
  set(_arch "arm64")
endif()
if(MINGW)
  set(_compiler "mingw-w64")
elseif(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(_compiler "gcc ${CMAKE_CXX_COMPILER_VERSION}")
elseif(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(_compiler "clang ${CMAKE_CXX_COMPILER_VERSION}")
else()
  set(_compiler "${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}")
endif()
if(" ${CMAKE_EXE_LINKER_FLAGS} " MATCHES " -static ")
  string(APPEND _compiler " static")
endif()
set(SKERROW_BUILD_TEXT "${CMAKE_SYSTEM_NAME} ${_arch}, ${_compiler}")

find_package(Git QUIET)
set(SKERROW_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(SKERROW_GIT "${GIT_EXECUTABLE}")
set(SKERROW_VERSION_DIR "${PROJECT_BINARY_DIR}/generated")
set(SKERROW_VERSION_HEADER "${SKERROW_VERSION_DIR}/skerrow_version.h")

# Once now, so that the header exists for code indexers before any build.
skerrow_write_version_header()

add_custom_target(skerrow_version
  COMMAND "${CMAKE_COMMAND}" "-DSKERROW_SOURCE_DIR=${SKERROW_SOURCE_DIR}"
          "-DSKERROW_GIT=${SKERROW_GIT}" "-DSKERROW_BUILD_TEXT=${SKERROW_BUILD_TEXT}"
          "-DSKERROW_VERSION_HEADER=${SKERROW_VERSION_HEADER}" -P "${CMAKE_CURRENT_LIST_FILE}"
  BYPRODUCTS "${SKERROW_VERSION_HEADER}"
  COMMENT "Version text"
  VERBATIM)

foreach(_program skerrow skerrowctl)
  target_include_directories(${_program} PRIVATE "${SKERROW_VERSION_DIR}")
  add_dependencies(${_program} skerrow_version)
endforeach()
# The tests compare the programs' answer with the same header.
include_directories("${SKERROW_VERSION_DIR}")
