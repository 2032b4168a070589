# Builds the Debian sources unpacked by tools/setup.sh into third_party/.
# Third-party code is compiled without the project's warning flags.
# Also included by the fuzz tree (tests/fuzz), a project of its own.
set(QX_THIRD_PARTY ${CMAKE_CURRENT_LIST_DIR}/../third_party)
file(GLOB QX_LUA_DIR LIST_DIRECTORIES true ${QX_THIRD_PARTY}/lua5.3-*)
file(GLOB QX_LPEG_DIR LIST_DIRECTORIES true ${QX_THIRD_PARTY}/lua-lpeg-*)
file(GLOB QX_CJSON_DIR LIST_DIRECTORIES true ${QX_THIRD_PARTY}/lua-cjson-*)
file(GLOB QX_JSONCPP_DIR LIST_DIRECTORIES true ${QX_THIRD_PARTY}/libjsoncpp-*)
file(GLOB QX_GTEST_DIR LIST_DIRECTORIES true ${QX_THIRD_PARTY}/googletest-*)
foreach(dir QX_LUA_DIR QX_LPEG_DIR QX_CJSON_DIR QX_JSONCPP_DIR QX_GTEST_DIR)
  if(NOT ${dir})
    message(FATAL_ERROR "${dir}: third-party sources missing; run tools/setup.sh")
  endif()
endforeach()

set(lua_core lapi lcode lctype ldebug ldo ldump lfunc lgc llex lmem lobject lopcodes
    lparser lstate lstring ltable ltm lundump lvm lzio lauxlib lbaselib lbitlib lcorolib
    ldblib liolib lmathlib loslib lstrlib ltablib lutf8lib loadlib linit)
list(TRANSFORM lua_core PREPEND ${QX_LUA_DIR}/src/)
list(TRANSFORM lua_core APPEND .c)
add_library(qx_lua STATIC ${lua_core})
# Debian's luaconf.h names its multiarch folder in a generated header (POSIX paths only).
file(WRITE ${CMAKE_BINARY_DIR}/lua-include/lua5.3-deb-multiarch.h
  "#define DEB_HOST_MULTIARCH \"${CMAKE_LIBRARY_ARCHITECTURE}\"\n")
target_include_directories(qx_lua SYSTEM PUBLIC ${QX_LUA_DIR}/src ${CMAKE_BINARY_DIR}/lua-include)
target_compile_definitions(qx_lua PUBLIC LUA_COMPAT_5_2)
if(NOT WIN32)
  target_compile_definitions(qx_lua PUBLIC LUA_USE_POSIX)
  target_link_libraries(qx_lua PUBLIC m)
endif()
add_library(qx::lua ALIAS qx_lua)

file(GLOB lpeg_src ${QX_LPEG_DIR}/lp*.c)
add_library(qx_lpeg STATIC ${lpeg_src})
target_link_libraries(qx_lpeg PUBLIC qx_lua)
add_library(qx::lpeg ALIAS qx_lpeg)

add_library(qx_cjson STATIC ${QX_CJSON_DIR}/lua_cjson.c ${QX_CJSON_DIR}/strbuf.c ${QX_CJSON_DIR}/fpconv.c)
target_link_libraries(qx_cjson PUBLIC qx_lua)
target_compile_definitions(qx_cjson PRIVATE ENABLE_CJSON_GLOBAL=0)
if(WIN32)
  target_compile_definitions(qx_cjson PRIVATE DISABLE_INVALID_NUMBERS)
endif()
add_library(qx::cjson ALIAS qx_cjson)

if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The C libraries' unwind tables: no C++ exception is caught beyond their frames, and
  # Lua raises its errors by longjmp, which on 32-bit Windows reads no tables. Without
  # them the program is 35 KB smaller. (The 64-bit longjmp unwinds by the tables.)
  foreach(target qx_lua qx_lpeg qx_cjson)
    target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables)
  endforeach()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/Jsoncpp.cmake)
qx_jsoncpp_library(TARGET qx_jsoncpp SOURCE ${QX_JSONCPP_DIR})
add_library(qx::jsoncpp ALIAS qx_jsoncpp)

if(QX_BUILD_TESTS)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QX_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
