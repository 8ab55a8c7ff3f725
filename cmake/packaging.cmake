# What `cmake --install` puts where, and the packages CPack makes of it: the Debian packages
# libpixeltools1, libpixeltools-dev and pixeltools (the programs with their manual pages), and a
# zip of the Windows programs (32-bit or 64-bit, as the build is: -win32 or -win64 in its name)
# with the library's DLL, import library and header, the README and the licences.
# libpixeltools/CMakeLists.txt installs the library itself.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME pixeltools)
set(CPACK_PACKAGE_VENDOR "The pixeltools developers")
set(CPACK_PACKAGE_CONTACT "The pixeltools developers <pixeltools@example.org>")
set(summary "pixel-art scaler and sprite rotator that keep edges hard")
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
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${summary}")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME "win${windows_bits}")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  # Three Debian packages, as a library is packaged there: libpixeltools1 holds the shared
  # library, libpixeltools-dev what a program needs to build against it, pixeltools the two
  # programs. Each carries the copyright and the changelog under its own name.
  set(deb_release 1)
  set(deb_version "${PROJECT_VERSION}-${deb_release}")
  set(lib_package "libpixeltools${PROJECT_VERSION_MAJOR}")

  # Manual pages and the Debian changelog go in compressed, as Debian wants them.
  find_program(GZIP_PROGRAM gzip REQUIRED)
  set(compressed "")
  file(MAKE_DIRECTORY "${PROJECT_BINARY_DIR}/compressed")
  foreach(source man/mostel.1 man/quillet.1 man/pixeltools.3 packaging/changelog)
    get_filename_component(name "${source}" NAME)
    set(output "${PROJECT_BINARY_DIR}/compressed/${name}.gz")
    add_custom_command(OUTPUT "${output}"
      COMMAND "${GZIP_PROGRAM}" -9nc "${PROJECT_SOURCE_DIR}/${source}" > "${output}"
      DEPENDS "${PROJECT_SOURCE_DIR}/${source}" VERBATIM)
    list(APPEND compressed "${output}")
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${compressed})

  install(TARGETS mostel quillet RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT programs)
  install(FILES "${PROJECT_BINARY_DIR}/compressed/mostel.1.gz" "${PROJECT_BINARY_DIR}/compressed/quillet.1.gz"
          DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT programs)
  install(FILES "${PROJECT_BINARY_DIR}/compressed/pixeltools.3.gz"
          DESTINATION "${CMAKE_INSTALL_MANDIR}/man3" COMPONENT dev)
  foreach(component_package IN ITEMS "programs:pixeltools" "lib:${lib_package}" "dev:libpixeltools-dev")
    string(REPLACE ":" ";" component_package "${component_package}")
    list(GET component_package 0 component)
    list(GET component_package 1 package)
    install(FILES packaging/copyright DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}" COMPONENT ${component})
    install(FILES "${PROJECT_BINARY_DIR}/compressed/changelog.gz" DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}"
            RENAME changelog.Debian.gz COMPONENT ${component})
  endforeach()

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL programs lib dev)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${deb_release})
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SOURCE pixeltools)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

  # The library: the shlibs file tells dpkg-shlibdeps which package a program linking
  # libpixeltools.so.1 depends on; the trigger runs ldconfig once after the installation.
  configure_file(packaging/shlibs.in "${PROJECT_BINARY_DIR}/packaging/lib/shlibs" @ONLY)
  configure_file(packaging/triggers "${PROJECT_BINARY_DIR}/packaging/lib/triggers" COPYONLY)
  set(CPACK_DEBIAN_LIB_PACKAGE_NAME "${lib_package}")
  set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA "${PROJECT_BINARY_DIR}/packaging/lib/shlibs;${PROJECT_BINARY_DIR}/packaging/lib/triggers")
  set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_LIB_DESCRIPTION "${summary} - library
libpixeltools offers the jobs of the programs mostel and quillet to C and C++
programs: the 3x edge-rule enlargement, whose output pixels are all colours of
the input, and the turning and scaling of a sprite into frames or a sprite
sheet, with PNG reading and writing. It keeps no global state.
.
This package holds the shared library.")

  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libpixeltools-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${lib_package} (= ${deb_version})")
  set(CPACK_DEBIAN_DEV_DESCRIPTION "${summary} - development files
libpixeltools offers the jobs of the programs mostel and quillet to C and C++
programs: the 3x edge-rule enlargement, whose output pixels are all colours of
the input, and the turning and scaling of a sprite into frames or a sprite
sheet, with PNG reading and writing.
.
This package holds the C header, the pkg-config file, the CMake package
(find_package(pixeltools)) and the manual page pixeltools(3).")

  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME pixeltools)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION graphics)
  # dpkg-shlibdeps finds what the programs link (libpixeltools, LodePNG, the C and C++
  # runtimes); quillet opens MagickWand itself at run time, so that one is named here.
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "libmagickwand-6.q16-6")
  # Each description's first line is its package's synopsis.
  set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "${summary}
mostel enlarges a PNG picture three times with an edge-rule scaler: it decides
corner by corner whether an edge runs through each pixel and never blends
colours, so every output pixel is a colour of the input.
.
quillet rotates and scales a sprite without blurring it and writes one 24-bit
BMP frame or a series of frames whose angle and scale run between two values,
or RGBA PNG frames and sprite sheets that keep the sprite's transparency.
It reads BMP and PNG files itself and other formats through MagickWand.")

  # dpkg-shlibdeps learns the library's package from a package tree of it that it finds beside
  # the programs' tree while their dependencies are worked out.
  set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/packaging/library-for-shlibdeps.cmake")
  set(CPACK_PIXELTOOLS_LIB_PACKAGE "${lib_package}")
  set(CPACK_PIXELTOOLS_SHLIBS "${PROJECT_BINARY_DIR}/packaging/lib/shlibs")
endif()

include(CPack)
