# Helpers shared by the per-folder build files.

# vs_library(<target> SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# One static library per subsystem folder; the repository root is the include root,
# so headers are included as "engine/feature_set.h".
function(vs_library target)
  cmake_parse_arguments(L "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${target} STATIC ${L_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${L_DEPS} PRIVATE ${L_PRIVATE_DEPS})
endfunction()

# vs_test(<target> SOURCES ... [LIBS ...] [LABELS ...])
# A GoogleTest executable registered with CTest. Tests labelled "threaded" also run
# under ThreadSanitizer.
function(vs_test target)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(${target} ${T_SOURCES})
  target_link_libraries(${target} PRIVATE ${T_LIBS} vs_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES LABELS "${T_LABELS}")
endfunction()
