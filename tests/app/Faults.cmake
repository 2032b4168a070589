# Fault scenarios (tests/app/e2e/faults.py): the package server stopped mid-download, a
# package past 4 GiB stopped twice, too little room on the install drive, the payload
# killed mid-install, two installers at once. Included from CMakeLists.txt; the
# installers and helpers are the end-to-end runs' own.
if(WIN32 AND CMAKE_CROSSCOMPILING_EMULATOR)
  add_executable(qx_terminate ${CMAKE_CURRENT_SOURCE_DIR}/e2e/terminate_main.cpp)
  qx_warnings(qx_terminate)
  set_target_properties(qx_terminate PROPERTIES OUTPUT_NAME terminate
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/support)
  add_dependencies(installer_e2e qx_terminate)
  qx_e2e_scenarios(faults.py e2e_fault_ server_stopped past_4gib no_space payload_killed two_at_once refused_query
    cut_connections busy_server stalled_transfer player_proxy)
  # Past 4 GiB the package takes its time to arrive and to be hashed.
  set_tests_properties(e2e_fault_past_4gib PROPERTIES TIMEOUT 600)
endif()
