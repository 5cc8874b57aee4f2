# What a user installs, and the package made of it: on Linux the programs,
# their man pages and completion, the desktop entry, icons and metainfo, as a
# Debian package; on Windows the three .exe files and the read-me files, as a
# zip. CPack names both and takes the version from project().
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME isp-programmer)
set(CPACK_PACKAGE_VERSION ${ISP_VERSION_SHORT})
set(CPACK_PACKAGE_VENDOR "ISP Programmer developers")
set(CPACK_PACKAGE_CONTACT "ISP Programmer developers <developers@ispprogrammer.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write a device's firmware through a serial port")
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_SOURCE_DIR}/build)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # Read-me files as Notepad likes them: a byte-order mark and CR LF.
  foreach(lang en ru)
    file(READ ${PROJECT_SOURCE_DIR}/resources/windows/README-${lang}.txt text)
    string(REPLACE "\n" "\r\n" text "${text}")
    string(ASCII 239 187 191 bom)
    file(WRITE ${CMAKE_BINARY_DIR}/README-${lang}.txt "${bom}${text}")
    install(FILES ${CMAKE_BINARY_DIR}/README-${lang}.txt DESTINATION .)
  endforeach()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME isp-programmer-${ISP_VERSION_SHORT}-win64)
  include(CPack)
  return()
endif()

set(ISP_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/isp-programmer)

# Man pages and the changelog are installed gzip -9n: no timestamp, so
# the same sources give the same package.
find_program(GZIP gzip REQUIRED)
set(isp_gz_files)
foreach(page isp-flash isp-sim isp-programmer isp-station)
  if(page MATCHES "isp-programmer|isp-station" AND NOT ISP_GUI)
    continue()
  endif()
  set(out ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/resources/man/${page}.1 > ${out}
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/man/${page}.1 VERBATIM)
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  list(APPEND isp_gz_files ${out})
endforeach()
set(changelog ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/resources/debian/changelog > ${changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/debian/changelog VERBATIM)
add_custom_target(isp_compressed_docs ALL DEPENDS ${isp_gz_files} ${changelog})

install(FILES ${changelog} ${PROJECT_SOURCE_DIR}/resources/debian/copyright DESTINATION ${ISP_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/completion/isp-flash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DESCRIPTION "The dialog isp-programmer chooses a firmware file and a serial port,
identifies the device over a framed request/reply protocol at 19200 baud and
sends it the firmware record by record, with a progress bar and a log.
isp-flash does the same from the command line, for scripts and production
lines; isp-station is a production line's window that programs every device
connected to its ports; isp-sim stands in for the device, for trying them
without hardware.")
# isp-programmer_<version>_<architecture>.deb, the architecture from dpkg.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # dependencies computed from the binaries
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
include(CPack)
