# Project helpers: warnings, tests under Wine or natively, resource scripts, installers.

# The project's own code builds with warnings as errors; third-party code does not.
function(qx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-unused-parameter
    $<$<COMPILE_LANGUAGE:CXX>:-Wno-cast-function-type>)
endfunction()

# qx_add_test(NAME n SOURCES ... [LIBS ...] [RC file.rc] [TIMEOUT s] [LABELS ...] [SCRIPT s])
# On the Windows builds the test runs under Wine through the cross-compiling emulator;
# on the native build it runs directly (with the sanitizers). With SCRIPT, the test is that
# bash script beside the CMakeLists, given the program and the emulator: for what the
# program needs prepared on the Linux side first (servers, reference files).
function(qx_add_test)
  cmake_parse_arguments(T "" "NAME;RC;TIMEOUT;SCRIPT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(sources ${T_SOURCES})
  if(T_RC AND WIN32)
    list(APPEND sources ${T_RC})
  endif()
  add_executable(${T_NAME} ${sources})
  qx_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} qx_test_support GTest::gmock GTest::gtest)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${T_NAME} PRIVATE
    QX_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(T_SCRIPT)
    add_test(NAME ${T_NAME} COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/${T_SCRIPT} $<TARGET_FILE:${T_NAME}>
                                    ${CMAKE_CROSSCOMPILING_EMULATOR})
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()

# qx_on_desktop(test ...)
# For tests that show windows or move the pointer: the display is shared, so a window
# popping up over another test's, or a pointer moved under it, turns clicks and hover
# states into chance. They take turns.
function(qx_on_desktop)
  set_property(TEST ${ARGN} APPEND PROPERTY RESOURCE_LOCK desktop)
endfunction()

# The program that writes an installer's version resource (tools/brand/VersionResource,
# which the branding tool shares). A Windows tree builds it for this machine once per
# configure, from a native configure of this same source under build/<tree>/host.
function(_qx_version_tool out)
  get_property(tool GLOBAL PROPERTY QX_VERSION_TOOL)
  if(NOT tool)
    set(host ${CMAKE_BINARY_DIR}/host)
    foreach(step configure build)
      if(step STREQUAL configure)
        set(command ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${host} -G ${CMAKE_GENERATOR}
          -DCMAKE_BUILD_TYPE=Release -DQX_BUILD_TESTS=OFF -DQX_SANITIZE=OFF)
      else()
        set(command ${CMAKE_COMMAND} --build ${host} --target qx_version_resource)
      endif()
      execute_process(COMMAND ${command} RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
      if(failed)
        message(FATAL_ERROR "the build's own version resource program: ${step} failed:\n${log}")
      endif()
    endforeach()
    set(tool ${host}/tools/brand/version-resource)
    set_property(GLOBAL PROPERTY QX_VERSION_TOOL ${tool})
    file(GLOB sources ${PROJECT_SOURCE_DIR}/tools/brand/VersionResource.* ${PROJECT_SOURCE_DIR}/tools/brand/version_resource_main.cpp)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${sources})
  endif()
  set(${out} ${tool} PARENT_SCOPE)
endfunction()

# The lines of resources/manifest.txt that name an item, and the fields of one line:
# type, name, rel (the file, relative to a branding folder), flags (a list) and fallback
# (the file of an else: flag, or empty).
function(_qx_manifest_lines out)
  file(STRINGS ${PROJECT_SOURCE_DIR}/resources/manifest.txt lines REGEX "^[^# \t]")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/resources/manifest.txt)
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()
macro(_qx_manifest_fields line)
  string(REGEX REPLACE "[ \t]+" ";" _fields "${line}")
  list(GET _fields 0 type)
  list(GET _fields 1 name)
  list(GET _fields 2 rel)
  list(LENGTH _fields _count)
  set(flags "")
  if(_count GREATER 3)
    list(SUBLIST _fields 3 -1 flags)
  endif()
  set(fallback "")
  foreach(_flag IN LISTS flags)
    if(_flag MATCHES "^else:(.*)$")
      set(fallback ${CMAKE_MATCH_1})
    endif()
  endforeach()
endmacro()

# qx_branding_manifest(OUT file.inc)
# The manifest as C++ initialisers of BrandingItem, for the programs that read branding
# folders themselves (the branding tool).
function(qx_branding_manifest)
  cmake_parse_arguments(M "" "OUT" "" ${ARGN})
  _qx_manifest_lines(lines)
  set(inc "// Generated from resources/manifest.txt; do not edit.\n")
  foreach(line IN LISTS lines)
    _qx_manifest_fields("${line}")
    if(type STREQUAL "ICON")
      set(type 14)
    endif()
    set(chinese false)
    if("lang2052" IN_LIST flags)
      set(chinese true)
    endif()
    set(optional false)
    if("optional" IN_LIST flags)
      set(optional true)
    endif()
    string(APPEND inc "{${type}, \"${name}\", \"${rel}\", ${chinese}, ${optional}, \"${fallback}\"},\n")
  endforeach()
  file(GENERATE OUTPUT ${M_OUT} CONTENT "${inc}")
endfunction()

# qx_resource_script(OUT file.rc BRANDING dir [PROGRAM] [OVERRIDES name=path ...])
# Writes a resource script for the entries of resources/manifest.txt. Each file is taken
# from the branding folder when it has it, else from the default branding; OVERRIDES
# replace single entries (generator expressions allowed, e.g. a built payload). PROGRAM
# adds what an installer program carries besides its branding: the application manifest
# and the version information made from the branding's CONFIG.JSON. The script's object
# depends on every file it binds.
function(qx_resource_script)
  cmake_parse_arguments(R "PROGRAM" "OUT;BRANDING" "OVERRIDES" ${ARGN})
  set(default ${PROJECT_SOURCE_DIR}/resources)
  if(NOT IS_DIRECTORY ${R_BRANDING})
    message(FATAL_ERROR "branding folder ${R_BRANDING} does not exist")
  endif()
  _qx_manifest_lines(lines)
  set(rc "// Generated from resources/manifest.txt; do not edit.\n")
  foreach(line IN LISTS lines)
    _qx_manifest_fields("${line}")
    set(path "")
    foreach(o IN LISTS R_OVERRIDES)
      if(o MATCHES "^${name}=(.*)$")
        set(path ${CMAKE_MATCH_1})
      endif()
    endforeach()
    if(NOT path)
      if(EXISTS ${R_BRANDING}/${rel})
        set(path ${R_BRANDING}/${rel})
      elseif(fallback AND EXISTS ${R_BRANDING}/${fallback})
        # A branding folder with one document uses it for every language variant.
        set(path ${R_BRANDING}/${fallback})
      elseif(EXISTS ${default}/${rel})
        set(path ${default}/${rel})
      elseif("optional" IN_LIST flags)
        continue()
      else()
        message(FATAL_ERROR "resource ${name}: ${rel} is in neither ${R_BRANDING} nor ${default}")
      endif()
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    endif()
    if("lang2052" IN_LIST flags)
      string(APPEND rc "LANGUAGE 4, 2\n")
    else()
      string(APPEND rc "LANGUAGE 0, 0\n")
      if(name STREQUAL "CONFIG.JSON")
        set(config ${path})
      endif()
    endif()
    list(APPEND files ${path})
    if(name STREQUAL "SETUP.EXE")
      # The payload's digest, made when the payload is: the installer starts only that.
      set(digest ${R_OUT}.setup.sha256)
      add_custom_command(OUTPUT ${digest}
        COMMAND ${CMAKE_COMMAND} -DIN=${path} -DOUT=${digest} -P ${PROJECT_SOURCE_DIR}/cmake/Sha256File.cmake
        DEPENDS ${path} ${PROJECT_SOURCE_DIR}/cmake/Sha256File.cmake VERBATIM)
      # Its own LANGUAGE line: two file names in a row would join into one.
      string(APPEND rc "\"SETUP.SHA256\" ${type} \"${digest}\"\nLANGUAGE 0, 0\n")
      list(APPEND files ${digest})
    endif()
    # A number names a resource by number (the icon the window class loads), not by text.
    if(name MATCHES "^[0-9]+$")
      string(APPEND rc "${name} ${type} \"${path}\"\n")
    else()
      string(APPEND rc "\"${name}\" ${type} \"${path}\"\n")
    endif()
  endforeach()
  if(R_PROGRAM)
    if(config MATCHES "\\$<")
      message(FATAL_ERROR "${R_OUT}: the version information needs CONFIG.JSON as a file, not ${config}")
    endif()
    _qx_version_tool(tool)
    set(version ${R_OUT}.version)
    execute_process(COMMAND ${tool} ${config} ${version} RESULT_VARIABLE failed ERROR_VARIABLE error)
    if(failed)
      message(FATAL_ERROR "${error}")
    endif()
    # Resource 1 of type 24: the manifest Windows reads when it creates the process.
    # Resource 1 of type 16: the version information, Chinese (PRC).
    string(APPEND rc "LANGUAGE 0, 0\n1 24 \"${PROJECT_SOURCE_DIR}/app/installer.manifest\"\n"
                     "LANGUAGE 4, 2\n1 16 \"${version}\"\n")
    list(APPEND files ${PROJECT_SOURCE_DIR}/app/installer.manifest ${version})
  endif()
  file(GENERATE OUTPUT ${R_OUT} CONTENT "${rc}")
  # The resource compiler reports no dependencies: a changed image, script or manifest must
  # still rebuild the resources of every program that binds them.
  set_property(SOURCE ${R_OUT} APPEND PROPERTY OBJECT_DEPENDS ${files})
endfunction()

# qx_installer(TARGET name BRANDING dir [OVERRIDES name=path ...])
# An installer program branded from `dir` (see qx_resource_script), linked stripped.
function(qx_installer)
  cmake_parse_arguments(I "" "TARGET;BRANDING" "OVERRIDES" ${ARGN})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${I_TARGET}.rc)
  qx_resource_script(OUT ${rc} BRANDING ${I_BRANDING} PROGRAM OVERRIDES ${I_OVERRIDES})
  add_executable(${I_TARGET} WIN32 ${PROJECT_SOURCE_DIR}/app/main.cpp ${rc})
  qx_warnings(${I_TARGET})
  target_link_libraries(${I_TARGET} PRIVATE qx_controller)
  # What ships carries no symbols.
  target_link_options(${I_TARGET} PRIVATE $<$<NOT:$<CONFIG:Debug>>:-s>)
endfunction()
