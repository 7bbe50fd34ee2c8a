# Shared build settings and helper functions for every subsystem.

set(ZELBO_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)

if(ZELBO_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(ZELBO_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(ZELBO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The fuzz preset needs clang (libFuzzer)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# zelbo_target_warnings(target): our warning set, for our own code only.
function(zelbo_target_warnings target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${ZELBO_WARNINGS}>)
endfunction()

# zelbo_add_gtest(name SOURCES a.cpp b.cpp LIBS x y [LABELS l] [TIMEOUT s] [ENV K=V ...])
# One GoogleTest executable, registered with CTest case by case.
function(zelbo_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  zelbo_target_warnings(${name})
  if(CMAKE_UNITY_BUILD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # A unity batch includes each test file, and GCC then takes a TEST_F
    # derived from a fixture in the file's unnamed namespace for a header's
    # class with an internal base. Built a file at a time there is no such
    # warning; the batch changes nothing about it.
    target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wno-subobject-linkage>)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  math(EXPR T_TIMEOUT "${T_TIMEOUT} * ${ZELBO_TEST_TIMEOUT_SCALE}")
  include(GoogleTest)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    DISCOVERY_TIMEOUT 60
    TEST_LIST ${name}_TESTS
    PROPERTIES TIMEOUT ${T_TIMEOUT})
  # List-valued properties (several labels, several variables) do not survive
  # the trip through the discovery command line, so they are applied by a small
  # script that CTest runs after the discovered cases are defined.
  if(T_LABELS OR T_ENV)
    set(_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
    set(_body "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES")
    if(T_LABELS)
      string(APPEND _body " LABELS \"${T_LABELS}\"")
    endif()
    if(T_ENV)
      string(APPEND _body " ENVIRONMENT \"${T_ENV}\"")
    endif()
    string(APPEND _body ")\nendif()\n")
    file(GENERATE OUTPUT ${_script} CONTENT "${_body}")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_script})
  endif()
endfunction()

# zelbo_add_fuzz(name SOURCES a.cpp LIBS x y [CORPUS dir])
# A libFuzzer target (LLVMFuzzerTestOneInput). With the fuzz preset it is a real
# libFuzzer binary; in every other build it links a small driver that replays the
# seed corpus and a bounded run of pseudo-random inputs, registered as a quick test.
function(zelbo_add_fuzz name)
  cmake_parse_arguments(F "" "CORPUS;RUNS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS} Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  zelbo_target_warnings(${name})
  if(ZELBO_FUZZ)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    # scripts/fuzz.sh finds every target and its seeds here.
    file(WRITE ${CMAKE_BINARY_DIR}/fuzz-targets/${name} "${F_CORPUS}")
  else()
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
    if(NOT F_RUNS)
      set(F_RUNS 3000)
    endif()
    set(args --runs=${F_RUNS})
    if(F_CORPUS)
      list(APPEND args ${F_CORPUS})
    endif()
    add_test(NAME fuzz.${name} COMMAND ${name} ${args} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 300 LABELS "fuzz-replay")
  endif()
endfunction()
