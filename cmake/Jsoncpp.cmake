# qx_jsoncpp_library(TARGET name SOURCE dir)
# jsoncpp from its Debian sources in `dir`, copied into the build tree and patched there
# to leave the standard streams out (see jsoncpp-without-streams.patch). Every tree builds
# this same variant, so the tests and the fuzzer read documents with the code that ships.
set(QX_JSONCPP_PATCH ${CMAKE_CURRENT_LIST_DIR}/jsoncpp-without-streams.patch)

function(qx_jsoncpp_library)
  cmake_parse_arguments(J "" "TARGET;SOURCE" "" ${ARGN})
  set(dest ${CMAKE_BINARY_DIR}/jsoncpp-patched)
  file(SHA256 ${QX_JSONCPP_PATCH} patch_hash)
  set(stamp "${J_SOURCE} ${patch_hash}")
  set(old_stamp "")
  if(EXISTS ${dest}/stamp)
    file(READ ${dest}/stamp old_stamp)
  endif()
  if(NOT old_stamp STREQUAL stamp)
    file(REMOVE_RECURSE ${dest})
    file(MAKE_DIRECTORY ${dest}/src)
    file(COPY ${J_SOURCE}/include DESTINATION ${dest})
    file(COPY ${J_SOURCE}/src/lib_json DESTINATION ${dest}/src)
    # Copies keep the sources' old times; a fresh copy must rebuild what came from another.
    file(GLOB_RECURSE copied ${dest}/*)
    file(TOUCH_NOCREATE ${copied})
    find_program(QX_PATCH patch REQUIRED)
    execute_process(COMMAND ${QX_PATCH} -p1 --batch --forward --silent -d ${dest} -i ${QX_JSONCPP_PATCH}
      RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "jsoncpp: ${QX_JSONCPP_PATCH} does not apply to ${J_SOURCE}")
    endif()
    file(WRITE ${dest}/stamp ${stamp})
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QX_JSONCPP_PATCH})

  file(GLOB sources ${dest}/src/lib_json/*.cpp)
  add_library(${J_TARGET} STATIC ${sources})
  target_include_directories(${J_TARGET} SYSTEM PUBLIC ${dest}/include)
  target_compile_definitions(${J_TARGET} PUBLIC JSONCPP_NO_STREAMS=1)
endfunction()
