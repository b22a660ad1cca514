# How our own targets are built and how tests are registered: one place for both.
#
# Build options go to each target through lunabrik_target(), never into the global flags, so a
# build type's or a user's CMAKE_CXX_FLAGS stay as they were given:
#   - warnings (-Wall -Wextra), and -O2 in release builds (CMake's -O3 comes earlier on the
#     command line and gives way to it: the core's speed was measured and tuned at -O2);
#   - LUNABRIK_SANITIZE: the sanitizers, e.g. "address,undefined" or "thread" (the asan and tsan
#     presets set it), on every target alike: instrumented and plain code cannot be mixed;
#   - LUNABRIK_LTO: link-time optimisation of release builds (the release preset sets it).
set(LUNABRIK_SANITIZE "" CACHE STRING "Sanitizers for our targets: address,undefined or thread")
option(LUNABRIK_LTO "Link-time optimisation in release builds" ON)

add_library(lunabrik_options INTERFACE)
target_compile_options(lunabrik_options INTERFACE -Wall -Wextra $<$<CONFIG:Release>:-O2>)
if(LUNABRIK_SANITIZE)
  target_compile_options(lunabrik_options INTERFACE
    -fsanitize=${LUNABRIK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(lunabrik_options INTERFACE -fsanitize=${LUNABRIK_SANITIZE})
endif()

set(LUNABRIK_IPO OFF)
if(LUNABRIK_LTO AND NOT LUNABRIK_SANITIZE)
  include(CheckIPOSupported)
  check_ipo_supported(RESULT LUNABRIK_IPO OUTPUT ipo_message)
  if(NOT LUNABRIK_IPO)
    message(STATUS "No link-time optimisation: ${ipo_message}")
  endif()
endif()

# lunabrik_target(<target>...): our build options for these targets.
function(lunabrik_target)
  foreach(target ${ARGN})
    target_link_libraries(${target} PRIVATE lunabrik_options)
    if(LUNABRIK_IPO)
      set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION_RELEASE ON)
    endif()
  endforeach()
endfunction()

# Tests carry labels: the area they test (cpu, machine, display, host, system, tools, shell, rom,
# web, install, bench) and `thread` for those that run more than one thread, which the
# ThreadSanitizer build runs (ctest --preset tsan selects the label).
#
# lunabrik_add_test(<name> SOURCES <file>... [LIBRARIES <lib>...] [LABELS <label>...]
#                   [THREADED <pattern>...] [ENVIRONMENT <var=value>] [OWN_MAIN])
#   A GoogleTest program <name> built from SOURCES and linked with LIBRARIES (and gtest_main,
#   unless OWN_MAIN). Its tests are listed when ctest runs; those THREADED names (GoogleTest
#   filter patterns: "Suite.*", "Suite.Test") get the `thread` label too. The caller adds
#   definitions, include folders and dependencies to <name>.
#
# lunabrik_add_test(<name> COMMAND <command> <argument>... [LABELS <label>...]
#                   [PROPERTIES <property> <value>...])
#   One test that runs a command and passes when it exits 0.
function(lunabrik_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "OWN_MAIN" "ENVIRONMENT"
                        "SOURCES;LIBRARIES;LABELS;THREADED;COMMAND;PROPERTIES")
  if(arg_UNPARSED_ARGUMENTS OR (arg_SOURCES AND arg_COMMAND) OR NOT (arg_SOURCES OR arg_COMMAND))
    message(FATAL_ERROR "lunabrik_add_test(${name}): SOURCES or COMMAND, and only known arguments")
  endif()

  if(arg_COMMAND)
    add_test(NAME ${name} COMMAND ${arg_COMMAND})
    set_tests_properties(${name} PROPERTIES LABELS "${arg_LABELS}" ${arg_PROPERTIES})
    return()
  endif()

  add_executable(${name} ${arg_SOURCES})
  lunabrik_target(${name})
  if(arg_OWN_MAIN)
    target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  endif()
  set(properties)
  if(arg_ENVIRONMENT)
    set(properties PROPERTIES ENVIRONMENT "${arg_ENVIRONMENT}")
  endif()
  # The program's tests are listed twice when ctest runs: the threaded ones and all others.
  # gtest_discover_tests cannot pass a list of labels, so a script of ours that ctest reads after
  # the lists gives each test its labels.
  list(JOIN arg_THREADED ":" thread_filter)
  set(other_filter)
  if(thread_filter)
    set(other_filter TEST_FILTER "-${thread_filter}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST ${other_filter}
    TEST_LIST ${name}_other ${properties})
  set(labels_script "")
  if(arg_THREADED)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_FILTER "${thread_filter}"
      TEST_LIST ${name}_threaded ${properties})
    string(APPEND labels_script "if(${name}_threaded)\n"
      "  set_tests_properties(\${${name}_threaded} PROPERTIES LABELS \"${arg_LABELS};thread\")\n"
      "endif()\n")
  endif()
  if(arg_LABELS)
    string(APPEND labels_script "if(${name}_other)\n"
      "  set_tests_properties(\${${name}_other} PROPERTIES LABELS \"${arg_LABELS}\")\n"
      "endif()\n")
  endif()
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake "${labels_script}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
    ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
endfunction()
