# Warnings for the project's own code (never for third-party headers).
function(kavro_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror
    # GCC 12 reports false -Wrestrict overlaps inside std::string at -O3 (GCC bug 105329).
    $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>)
endfunction()

# kavro_library(name STATIC|SHARED sources...): one library per room.
function(kavro_library name kind)
  add_library(${name} ${kind} ${ARGN})
  kavro_warnings(${name})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# kavro_test(name sources... [LIBS libs...]): one GoogleTest program, registered with CTest.
function(kavro_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  kavro_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()

# kavro_bench(name sources... [LIBS libs...]): one Google Benchmark program (bench preset).
function(kavro_bench name)
  cmake_parse_arguments(B "" "" "LIBS" ${ARGN})
  add_executable(${name} ${B_UNPARSED_ARGUMENTS})
  kavro_warnings(${name})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
endfunction()
