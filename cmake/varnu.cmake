# Build helpers shared by every folder.

set(VARNU_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)

if(VARNU_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(VARNU_FUZZ)
  # Every object is instrumented for coverage; only the fuzz executables get libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(BUILD_TESTING AND NOT VARNU_FUZZ)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  if(VARNU_BENCH)
    find_package(benchmark REQUIRED)
  endif()
endif()

function(varnu_warnings target)
  target_compile_options(${target} PRIVATE ${VARNU_WARNINGS} -Werror=return-type)
endfunction()

# varnu_test(NAME src... [LABELS l...] [LIBS lib...]): a GoogleTest executable
# linked with the library of its folder (VARNU_LAYER, see cli/CMakeLists.txt)
# and the test support. Default label: unit.
function(varnu_test name)
  if(VARNU_FUZZ OR NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(T "" "" "LABELS;LIBS" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${VARNU_LAYER} varnu_testing ${T_LIBS} GTest::gtest_main GTest::gmock)
  varnu_warnings(${name})
  target_compile_definitions(${name} PRIVATE
    VARNU_BUILD_DIR="${CMAKE_BINARY_DIR}" VARNU_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  # A slow case starts first when tests run at once (see varnu_pytest).
  set(cost 0)
  if(T_LABELS STREQUAL "slow")
    set(cost 100)
  endif()
  gtest_discover_tests(${name} PROPERTIES LABELS "${T_LABELS}" COST ${cost} DISCOVERY_TIMEOUT 30)
endfunction()

# varnu_fuzz(NAME src... [LIBS lib...]): a libFuzzer target, built only with VARNU_FUZZ, and a
# CTest case that runs it for a short while (VARNU_FUZZ_SECONDS, default 20).
# New inputs go to the build tree's corpus; the committed seeds beside the
# target (NAME_corpus/, made by scripts/make-fuzz-seeds) are only read.
function(varnu_fuzz name)
  if(NOT VARNU_FUZZ OR NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${VARNU_LAYER} ${T_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(seconds $ENV{VARNU_FUZZ_SECONDS})
  if(NOT seconds)
    set(seconds 20)
  endif()
  set(corpus ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
  file(MAKE_DIRECTORY ${corpus})
  set(seeds)
  if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${name}_corpus)
    set(seeds ${CMAKE_CURRENT_SOURCE_DIR}/${name}_corpus)
  endif()
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${seconds} -rss_limit_mb=2048 -timeout=10 ${corpus} ${seeds})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()

# varnu_bench(NAME src... [LIBS lib...]): a Google Benchmark executable (never a test).
function(varnu_bench name)
  if(VARNU_FUZZ OR NOT VARNU_BENCH OR NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${VARNU_LAYER} ${T_LIBS} benchmark::benchmark)
  target_compile_definitions(${name} PRIVATE VARNU_BUILD_DIR="${CMAKE_BINARY_DIR}")
  varnu_warnings(${name})
endfunction()

# varnu_pytest(NAME script.py [LABELS l...] [TIMEOUT s]): a Python unittest
# script run as one CTest case. It finds the build tree in VARNU_BUILD_DIR and
# the shared helpers of tests/ on PYTHONPATH. Default label: integration.
function(varnu_pytest name script)
  if(VARNU_FUZZ OR NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(T "" "TIMEOUT;COST" "LABELS" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS integration)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/${script})
  # COST, about the seconds it takes, starts the longest tests first in a parallel run of a fresh
  # tree, which has no timings of earlier runs; otherwise the last ones to start end the run alone.
  if(NOT T_COST)
    set(T_COST 0)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT} COST ${T_COST}
    ENVIRONMENT "VARNU_BUILD_DIR=${CMAKE_BINARY_DIR};VARNU_SOURCE_DIR=${CMAKE_SOURCE_DIR};PYTHONPATH=${CMAKE_SOURCE_DIR}/tests")
endfunction()
