# Helpers shared by the per-folder build files.

# Keeps the names in `list_var` that are targets already (libraries are added
# leaves first, so a subsystem that has no sources yet is simply left out).
function(vs_existing_targets out_var)
  set(result)
  foreach(t ${ARGN})
    if(TARGET ${t})
      list(APPEND result ${t})
    endif()
  endforeach()
  set(${out_var} ${result} PARENT_SCOPE)
endfunction()

# vs_library(<target> SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# One static library per subsystem folder; the repository root is the include root,
# so headers are included as "engine/feature_set.h". Project libraries named in
# DEPS that do not exist yet are skipped; a library without sources is not made.
function(vs_library target)
  cmake_parse_arguments(L "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  if(NOT L_SOURCES)
    return()
  endif()
  set(deps)
  foreach(d ${L_DEPS})
    if(TARGET ${d} OR NOT d MATCHES "^vs_")
      list(APPEND deps ${d})
    endif()
  endforeach()
  add_library(${target} STATIC ${L_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${deps} PRIVATE ${L_PRIVATE_DEPS})
endfunction()

# vs_test_folder(<name> LIBS ...)
# Every *_test.cpp of the calling folder goes into one GoogleTest executable
# <name>; every *_threaded_test.cpp into <name>_threaded, labelled "threaded"
# so that the ThreadSanitizer build runs it.
function(vs_test_folder name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  find_package(GTest REQUIRED)
  include(GoogleTest)
  vs_existing_targets(libs ${T_LIBS})
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB threaded CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_threaded_test.cpp)
  file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_helpers.cpp)
  set(plain ${all})
  if(threaded)
    list(REMOVE_ITEM plain ${threaded})
  endif()
  foreach(kind plain threaded)
    if(NOT ${kind})
      continue()
    endif()
    set(exe ${name})
    set(labels unit)
    if(kind STREQUAL "threaded")
      set(exe ${name}_threaded)
      set(labels threaded)
    endif()
    add_executable(${exe} ${${kind}} ${helpers})
    # The test files of a folder compile in batches: GoogleTest's headers are
    # parsed once a batch instead of once a file. A file whose private names
    # clash with another's is marked SKIP_UNITY_BUILD_INCLUSION in its folder.
    set_target_properties(${exe} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 6)
    target_link_libraries(${exe} PRIVATE ${libs} vs_test_support GTest::gmock GTest::gtest_main)
    gtest_discover_tests(${exe} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES LABELS "${labels}" ENVIRONMENT "${VS_TEST_ENVIRONMENT}")
  endforeach()
endfunction()
