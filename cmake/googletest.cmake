# GoogleTest. The native build links Debian's prebuilt libraries where they are installed
# (libgtest-dev, libgmock-dev: the same release as the sources below); otherwise, and always for
# mingw-w64, it is built from the sources Debian's googletest package installs, with the
# project's own compiler.
if(NOT WIN32)
  find_package(GTest 1.12 CONFIG QUIET)
endif()
if(NOT GTest_FOUND)
  set(ZOL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${ZOL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
include(GoogleTest)
