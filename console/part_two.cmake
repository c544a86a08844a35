# Console, part two: the grids of the sessions, broadcasts, errors, details
# and adapter tabs, the command check, settings, tools, small windows and the
# packet export of snapshots. Included by console/CMakeLists.txt.
find_package(Qt6 REQUIRED COMPONENTS Widgets Network Test)

add_library(veltris_console_part_two STATIC
  ${CMAKE_CURRENT_LIST_DIR}/grids/grid_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/grids/sessions_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/grids/broadcasts_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/grids/packets_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/grids/adapter_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/adapter/command_check.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings/console_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tools/tools_menu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/small_windows/small_windows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/snapshots/pcap_export.cpp
  ${CMAKE_CURRENT_LIST_DIR}/part_two/grid_tabs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/part_two/device_tabs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/part_two/console_part_two.cpp
  ${CMAKE_CURRENT_LIST_DIR}/part_two/part_two_menus.cpp
)
target_include_directories(veltris_console_part_two PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(veltris_console_part_two PUBLIC veltris_console_core veltris_snapshot veltris_help veltris_common Qt6::Widgets Qt6::Network)
target_link_libraries(VELTRIS PRIVATE veltris_console_part_two)

# veltris_qt_test(NAME SOURCES... LIBS...): a QtTest program run offscreen with its own settings folder.
function(veltris_part_two_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${CMAKE_CURRENT_BINARY_DIR}/${name}-config")
endfunction()

veltris_part_two_test(console_grids_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/part_two_grids_test.cpp
  LIBS veltris_console_part_two)
veltris_part_two_test(console_options_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/part_two_options_test.cpp
  LIBS veltris_console_part_two)

# Against the real agent replaying a generated capture (about half a minute).
veltris_part_two_test(console_part_two_agent_test TIMEOUT 300
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/part_two_agent_test.cpp ${CMAKE_SOURCE_DIR}/tests/support/agent_harness.cpp
  LIBS veltris_console_part_two veltris_registry veltris_test_support)
add_dependencies(console_part_two_agent_test TapsorSv make_trace)
target_compile_definitions(console_part_two_agent_test PRIVATE
  TAPSORSV_PATH="$<TARGET_FILE:TapsorSv>" MAKE_TRACE_PATH="$<TARGET_FILE:make_trace>")
veltris_part_two_test(console_part_two_tabs_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/part_two_tabs_test.cpp
  LIBS veltris_console_part_two)

# Speed of the grids: "ninja console_grids_bench" (see README).
veltris_bench(console_grids_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/grids/bench/grids_bench.cpp
  LIBS veltris_console_part_two)
