# Helpers that keep every folder's build file to a few lines: a folder's sources are the .cpp
# files under it, so adding a file needs no edit here.

# kestrun_library(<target> [PUBLIC_DEPS <targets...>] [PRIVATE_DEPS <targets...>])
# A static library of every .cpp/.c file under the current source folder.
function(kestrun_library target)
  cmake_parse_arguments(ARG "" "" "PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.c")
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${KESTRUN_INCLUDE_DIRS})
    target_link_libraries(${target} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${KESTRUN_INCLUDE_DIRS})
    target_link_libraries(${target} INTERFACE ${ARG_PUBLIC_DEPS})
  endif()
endfunction()

# kestrun_tests(<target> DEPS <targets...>)
# One GoogleTest program of every .cpp file under the current test folder; does nothing for a
# folder that has no tests yet.
function(kestrun_tests target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  if(NOT sources)
    return()
  endif()
  add_executable(${target} ${sources})
  target_include_directories(${target} PRIVATE ${KESTRUN_INCLUDE_DIRS} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} kestrun_testsupport GTest::gtest GTest::gmock
                        GTest::gtest_main)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# kestrun_benchmark(<source> DEPS <targets...>)
# One Google Benchmark program for one source file of bench/.
function(kestrun_benchmark source)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  get_filename_component(name "${source}" NAME_WE)
  add_executable(${name} "${source}")
  target_include_directories(${name} PRIVATE ${KESTRUN_INCLUDE_DIRS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  set_property(GLOBAL APPEND PROPERTY KESTRUN_BENCHMARKS ${name})
endfunction()

set(KESTRUN_INCLUDE_DIRS
    ${PROJECT_SOURCE_DIR}
    ${PROJECT_SOURCE_DIR}/platform
    ${PROJECT_SOURCE_DIR}/deps)
