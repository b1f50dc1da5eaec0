# What `cmake --install` puts where, and the packages CPack makes of it:
# a .tar.gz and a .deb on Linux, a .zip on Windows.
#
#   cpack --config <build>/CPackConfig.cmake -B <directory>

set(TACHORO_PACKAGE_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
set(TACHORO_DOCUMENTS
  ${PROJECT_SOURCE_DIR}/docs/Tachoro.html
  ${PROJECT_SOURCE_DIR}/docs/tachoro-results.schema.json
  ${PROJECT_SOURCE_DIR}/README.md
  ${PROJECT_SOURCE_DIR}/LICENSE)

if(WIN32)
  # The usage text sends the reader to Tachoro.html "included in the
  # distribution package": beside Tachoro.exe.
  install(TARGETS tachoro RUNTIME DESTINATION .)
  install(FILES ${TACHORO_DOCUMENTS} DESTINATION .)
else()
  install(TARGETS tachoro RUNTIME DESTINATION bin)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/tachoro.1 DESTINATION share/man/man1)
  install(FILES ${TACHORO_DOCUMENTS} DESTINATION share/doc/tachoro)
endif()

set(CPACK_PACKAGE_NAME tachoro)
set(CPACK_PACKAGE_VENDOR "The Tachoro developers")
set(CPACK_PACKAGE_CONTACT "The Tachoro developers")
set(CPACK_PACKAGE_VERSION ${TACHORO_PACKAGE_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "measures how fast an AviSynth script renders")
# Lines of at most 72 characters, as Debian's description field wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Tachoro loads the AviSynth+ frame server at run time, has it evaluate"
  "a script, requests every frame of the resulting clip and reports frames"
  "per second, time per frame and its own processor, thread and memory"
  "use, live and in a summary, and when asked in a log and a CSV file"
  "beside the script. A crash inside the frame server or a plug-in is"
  "reported and the samples measured so far are kept."
  "The frame server itself (libavisynth.so) is not part of this package.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION video)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Tachoro developers")
  # Depends: computed from the binary by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
