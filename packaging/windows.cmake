# Windows: KorvaneTintwell-<version>-win64.zip (make windows-package), which
# unpacks to
#   bin/KorvaneTintwell.dll, bin/tintwell.exe    the library and the host beside it
#   include/korvane/tintwell.h
#   lib/libKorvaneTintwell.dll.a                 the import library, for MinGW
#   lib/KorvaneTintwell.def                      the exports, for other linkers
#   lib/cmake/KorvaneTintwell/                   find_package(KorvaneTintwell CONFIG)
#   README.md, tintwell.txt                      the README and the manual as text
install(TARGETS KorvaneTintwell EXPORT KorvaneTintwellTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_BINARY_DIR}/module/KorvaneTintwell.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/korvane/tintwell.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvane)
# tintwell.exe loads the library from its own folder.
install(TARGETS tintwell RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)

# The manual page as plain UTF-8 text, for a system without man.
find_program(TINTWELL_GROFF NAMES groff REQUIRED)
set(man_page ${PROJECT_BINARY_DIR}/man/tintwell.1)
set(man_text ${PROJECT_BINARY_DIR}/man/tintwell.txt)
configure_file(${PROJECT_SOURCE_DIR}/man/tintwell.1.in ${man_page} @ONLY)
add_custom_command(OUTPUT ${man_text}
    # -P-cbou: no bold, underline or overstrike, only the letters.
    COMMAND ${TINTWELL_GROFF} -man -Tutf8 -P-cbou ${man_page} > ${man_text}
    DEPENDS ${man_page}
    COMMENT "Writing the manual as text"
    VERBATIM)
add_custom_target(tintwell_man_text ALL DEPENDS ${man_text})
install(FILES ${man_text} DESTINATION .)

include(cmake_package.cmake)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Korvane)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(TINTWELL_WINDOWS_ARCHIVE ${PROJECT_NAME}-${PROJECT_VERSION}-win64 CACHE INTERNAL
    "The Windows archive's name without .zip, for its tests")
set(CPACK_PACKAGE_FILE_NAME ${TINTWELL_WINDOWS_ARCHIVE})
# bin/, include/ and lib/ at the top of the archive.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)
