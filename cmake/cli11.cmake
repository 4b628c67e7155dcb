# CLI11, the command-line parser of the tools and the benchmark, from the headers Debian's
# libcli11-dev installs. The mingw-w64 build must not search the host's /usr/include, so the
# library's own folder is copied into the build tree and only that is put on the include path.
find_path(ZOL_CLI11_INCLUDE_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          DOC "Folder holding CLI/CLI.hpp (Debian: libcli11-dev)")
if(NOT ZOL_CLI11_INCLUDE_DIR)
  message(FATAL_ERROR "CLI11 is missing: install libcli11-dev (scripts/setup.sh)")
endif()
set(ZOL_CLI11_COPY ${CMAKE_BINARY_DIR}/cli11/include)
file(COPY ${ZOL_CLI11_INCLUDE_DIR}/CLI DESTINATION ${ZOL_CLI11_COPY})
add_library(zol_cli11 INTERFACE)
target_include_directories(zol_cli11 SYSTEM INTERFACE ${ZOL_CLI11_COPY})
