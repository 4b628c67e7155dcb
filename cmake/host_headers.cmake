# Header-only libraries from the host's Debian packages, for the native and the cross build alike.
# mingw-w64 cannot search the host's /usr/include (glibc's headers would stand in for its own), so
# the library's folder alone is copied into the build tree and only that is put on the path.
#   zol_host_header_library(NAME FOLDER PACKAGE)
# makes the interface library NAME from /usr/include/FOLDER; PACKAGE names the Debian package
# that installs it (scripts/setup.sh installs it).
function(zol_host_header_library name folder package)
  find_path(ZOL_HOST_HEADERS_${folder} ${folder}
            PATHS /usr/include /usr/local/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ZOL_HOST_HEADERS_${folder})
    message(FATAL_ERROR "${folder}/ not found in /usr/include: install ${package} "
                        "(scripts/setup.sh)")
  endif()
  set(copy ${CMAKE_BINARY_DIR}/host-headers)
  file(COPY ${ZOL_HOST_HEADERS_${folder}}/${folder} DESTINATION ${copy})
  add_library(${name} INTERFACE)
  target_include_directories(${name} SYSTEM INTERFACE ${copy})
endfunction()

# CLI11: the command-line parser of the tools and the benchmark.
zol_host_header_library(zol_cli11 CLI libcli11-dev)
# nlohmann/json: the benchmark's JSON report.
zol_host_header_library(zol_json nlohmann nlohmann-json3-dev)
