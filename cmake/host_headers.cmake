# Header-only libraries from the host's Debian packages, for targets of the cross build too.
# mingw-w64 cannot search the host's /usr/include (glibc's headers would stand in for its own),
# so the library's folder alone is copied into the build tree and searched there.
#   zol_use_host_headers(TARGET FOLDER PACKAGE)
# FOLDER is the library's folder under /usr/include (e.g. nlohmann); PACKAGE names the Debian
# package that installs it (scripts/setup.sh installs it).
function(zol_use_host_headers target folder package)
  find_path(ZOL_HOST_HEADERS_${folder} ${folder}
            PATHS /usr/include /usr/local/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ZOL_HOST_HEADERS_${folder})
    message(FATAL_ERROR "${folder}/ not found in /usr/include: install ${package} "
                        "(scripts/setup.sh)")
  endif()
  set(copy ${CMAKE_BINARY_DIR}/host-headers)
  file(COPY ${ZOL_HOST_HEADERS_${folder}}/${folder} DESTINATION ${copy})
  target_include_directories(${target} SYSTEM PRIVATE ${copy})
endfunction()
