# The kill test's program: the larkway entry with a counting platform that
# raises SIGKILL at the call named by LARKWAY_KILL_AT.  It has its own main,
# so it leaves the unit-test program's sources.
get_target_property(LARKWAY_TEST_TARGET_SOURCES larkway_tests SOURCES)
list(FILTER LARKWAY_TEST_TARGET_SOURCES EXCLUDE REGEX "/fault/killable_main\\.cpp$")
set_target_properties(larkway_tests PROPERTIES SOURCES "${LARKWAY_TEST_TARGET_SOURCES}")
if(NOT WIN32)
  add_executable(larkway_killable ${CMAKE_CURRENT_LIST_DIR}/killable_main.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/counting_platform.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/intercepting_platform.cpp)
  target_link_libraries(larkway_killable PRIVATE larkway_core)
  target_include_directories(larkway_killable PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(larkway_tests PRIVATE LARKWAY_KILLABLE_BIN="$<TARGET_FILE:larkway_killable>")
  add_dependencies(larkway_tests larkway_killable)
endif()
# The builds that only repeat the Release build's runs (the sanitizers,
# where a run is ten times slower, and clang) try one fault point in
# LARKWAY_FAULT_STRIDE of the whole-run loops (fault_loop.h, PointsOf).
set(LARKWAY_FAULT_STRIDE 1 CACHE STRING "The whole-run fault loops try one point in this many")
if(LARKWAY_FAULT_STRIDE GREATER 1)
  target_compile_definitions(larkway_tests PRIVATE LARKWAY_FAULT_STRIDE=${LARKWAY_FAULT_STRIDE})
endif()
