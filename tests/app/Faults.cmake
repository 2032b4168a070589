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
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  foreach(scenario server_stopped past_4gib no_space payload_killed two_at_once)
    add_test(NAME e2e_fault_${scenario}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/faults.py ${scenario} --build ${CMAKE_BINARY_DIR})
    # Past 4 GiB the package takes its time to arrive and to be hashed.
    if(scenario STREQUAL "past_4gib")
      set(timeout 600)
    else()
      set(timeout 300)
    endif()
    set_tests_properties(e2e_fault_${scenario} PROPERTIES TIMEOUT ${timeout}
      RESOURCE_LOCK "update_port;install_state" LABELS e2e)
    qx_on_desktop(e2e_fault_${scenario})
  endforeach()
endif()
