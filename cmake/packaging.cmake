# What `cmake --install` puts where, and the packages CPack makes of it: a Debian package of
# the native programs with their manual pages, and a zip of the Windows programs (32-bit or
# 64-bit, as the build is: -win32 or -win64 in its name) with the README and the licences.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME pixeltools)
set(CPACK_PACKAGE_VENDOR "The pixeltools developers")
set(CPACK_PACKAGE_CONTACT "The pixeltools developers <pixeltools@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pixel-art scaler and sprite rotator that keep edges hard")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)

if(PIXELTOOLS_WINDOWS)
  install(TARGETS mostel quillet RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  install(DIRECTORY docs/ DESTINATION docs FILES_MATCHING PATTERN "*.png" PATTERN "*.md")
  # The programs are linked statically: LodePNG and the MinGW-w64 runtime travel inside them.
  install(FILES LICENSE DESTINATION licences RENAME pixeltools.txt)
  install(FILES "${LODEPNG_SOURCE_DIR}/LICENSE" DESTINATION licences RENAME lodepng.txt)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(windows_bits 64)
    set(mingw_runtime mingw-w64-x86-64-dev)
  else()
    set(windows_bits 32)
    set(mingw_runtime mingw-w64-i686-dev)
  endif()
  install(FILES "/usr/share/doc/${mingw_runtime}/copyright" DESTINATION licences RENAME mingw-w64-runtime.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME "win${windows_bits}")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  # Manual pages and the Debian changelog go in compressed, as Debian wants them.
  find_program(GZIP_PROGRAM gzip REQUIRED)
  set(compressed "")
  file(MAKE_DIRECTORY "${PROJECT_BINARY_DIR}/compressed")
  foreach(source man/mostel.1 man/quillet.1 packaging/changelog)
    get_filename_component(name "${source}" NAME)
    set(output "${PROJECT_BINARY_DIR}/compressed/${name}.gz")
    add_custom_command(OUTPUT "${output}"
      COMMAND "${GZIP_PROGRAM}" -9nc "${PROJECT_SOURCE_DIR}/${source}" > "${output}"
      DEPENDS "${PROJECT_SOURCE_DIR}/${source}" VERBATIM)
    list(APPEND compressed "${output}")
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed})

  install(TARGETS mostel quillet RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  install(FILES "${PROJECT_BINARY_DIR}/compressed/mostel.1.gz" "${PROJECT_BINARY_DIR}/compressed/quillet.1.gz"
          DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  install(FILES packaging/copyright DESTINATION "${CMAKE_INSTALL_DOCDIR}")
  install(FILES "${PROJECT_BINARY_DIR}/compressed/changelog.gz" DESTINATION "${CMAKE_INSTALL_DOCDIR}"
          RENAME changelog.Debian.gz)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps finds what the programs link (LodePNG, the C and C++ runtimes); quillet opens
  # MagickWand itself at run time, so that one is named here.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmagickwand-6.q16-6")
  # The summary above is the synopsis line; this is the long description under it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "mostel enlarges a PNG picture three times with an edge-rule scaler: it decides
corner by corner whether an edge runs through each pixel and never blends
colours, so every output pixel is a colour of the input.
.
quillet rotates and scales a sprite without blurring it and writes one 24-bit
BMP frame or a series of frames whose angle and scale run between two values,
or RGBA PNG frames and sprite sheets that keep the sprite's transparency.
It reads BMP and PNG files itself and other formats through MagickWand.")
endif()

include(CPack)
