# Helpers shared by every subsystem's CMakeLists.
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
include(GoogleTest)
if(VELTRIS_BENCH)
  find_package(benchmark QUIET)
endif()

# veltris_test(NAME SOURCES... LIBS ...): a GoogleTest executable registered with ctest.
function(veltris_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# veltris_bench(NAME SOURCES... LIBS ...): a Google Benchmark executable, built
# only on request (ninja NAME, or scripts/bench) and never run by ctest.
function(veltris_bench name)
  if(NOT benchmark_FOUND)
    return()
  endif()
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} EXCLUDE_FROM_ALL ${B_SOURCES} ${B_UNPARSED_ARGUMENTS})
  set_property(GLOBAL APPEND PROPERTY VELTRIS_BENCHMARKS ${name})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
endfunction()

# A fuzz build (-DVELTRIS_FUZZ=ON, clang) instruments every library, so a fuzz
# target links the libraries it drives instead of compiling their sources again.
if(VELTRIS_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# veltris_fuzz(NAME SOURCES... LIBS ...): a libFuzzer target from a fuzz/ folder,
# built only with -DVELTRIS_FUZZ=ON.
function(veltris_fuzz name)
  if(NOT VELTRIS_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES} ${F_UNPARSED_ARGUMENTS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
endfunction()
