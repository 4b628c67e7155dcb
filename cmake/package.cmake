# Release package: `cmake --build --preset windows --target package` (or cpack in build/windows)
# makes zol-<version>-win64.zip with the driver, the host header, zolhost.exe, the docs and the
# licence files.
install(FILES ${CMAKE_SOURCE_DIR}/include/zol/braille_driver.h DESTINATION include/zol)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
              ${CMAKE_SOURCE_DIR}/THIRD-PARTY-NOTICES DESTINATION .)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION docs FILES_MATCHING PATTERN "*.md")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zol)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME zol-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
