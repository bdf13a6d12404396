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

# kavro_test(name sources... [LIBS libs...] [LABEL label]): one GoogleTest program, registered with CTest;
# every test of the program carries the label when one is given.
function(kavro_test name)
  cmake_parse_arguments(T "" "LABEL" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  kavro_warnings(${name})
  # Sources and the shared helpers of tests/support/ are included from the top of the tree.
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  if(T_LABEL)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS ${T_LABEL})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
  endif()
endfunction()

# kavro_bench(name sources... [LIBS libs...]): one Google Benchmark program (bench preset).
function(kavro_bench name)
  cmake_parse_arguments(B "" "" "LIBS" ${ARGN})
  add_executable(${name} ${B_UNPARSED_ARGUMENTS})
  kavro_warnings(${name})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
endfunction()

# kavro_plugin(target FILE file SOURCES sources... [LIBS libs...] [OBJECTS]): a plug-in library (a COM server
# loaded with dlopen) named `file` ("noir.ax", "VitaminCtrl.dll"), which is also its export-table name (soname).
# Built with hidden visibility: only the Dll* entry points are exported (platform/dshow/base/exports.map), the
# static libraries linked in stay hidden, and no symbol may be left undefined. With OBJECTS the sources are
# compiled once as the object library <target>_objects (the libraries linked publicly), which the tests link to
# reach the plug-in's own classes.
function(kavro_plugin target)
  cmake_parse_arguments(P "OBJECTS" "FILE" "SOURCES;LIBS" ${ARGN})
  set(exports ${PROJECT_SOURCE_DIR}/platform/dshow/base/exports.map)
  if(P_OBJECTS)
    add_library(${target}_objects OBJECT ${P_SOURCES})
    kavro_warnings(${target}_objects)
    target_include_directories(${target}_objects PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target}_objects PUBLIC ${P_LIBS})
    set_target_properties(${target}_objects PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    add_library(${target} MODULE $<TARGET_OBJECTS:${target}_objects>)
  else()
    add_library(${target} MODULE ${P_SOURCES})
    kavro_warnings(${target})
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  endif()
  target_link_libraries(${target} PRIVATE ${P_LIBS})
  get_filename_component(name ${P_FILE} NAME_WLE)
  get_filename_component(suffix ${P_FILE} LAST_EXT)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ${suffix} OUTPUT_NAME ${name}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON LINK_DEPENDS ${exports})
  target_link_options(${target} PRIVATE "LINKER:--no-undefined" "LINKER:--exclude-libs,ALL"
    "LINKER:-soname,${P_FILE}" "LINKER:--version-script=${exports}")
endfunction()

# Clang links no sanitizer or fuzzer runtime into shared libraries: in its sanitizer builds a plug-in's
# references to the runtime are resolved by the program that loads it. The plug-ins' "no undefined symbols"
# link check is therefore dropped there, for every target below dir (plug-ins added later included).
function(kavro_allow_runtime_symbols_in_plugins dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    get_target_property(opts ${t} LINK_OPTIONS)
    if(opts)
      list(REMOVE_ITEM opts "LINKER:--no-undefined" "-Wl,--no-undefined" "LINKER:-z,defs" "-Wl,-z,defs")
      set_target_properties(${t} PROPERTIES LINK_OPTIONS "${opts}")
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(d IN LISTS subdirs)
    kavro_allow_runtime_symbols_in_plugins(${d})
  endforeach()
endfunction()
