# Run by CPack once every component is staged, before the packages are made. dpkg-shlibdeps
# runs in the programs' staged tree and reads a debian/<package>/DEBIAN/shlibs found there; this
# puts the library's package tree there (its files by a link, so none of them is packaged twice).
# CPack removes that debian folder before the programs' package is made.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(staged "${CPACK_TEMPORARY_DIRECTORY}")
set(view "${staged}/programs/debian/${CPACK_PIXELTOOLS_LIB_PACKAGE}")
if(NOT IS_DIRECTORY "${staged}/lib${CPACK_PACKAGING_INSTALL_PREFIX}")
  message(FATAL_ERROR "the library's staged tree is missing: ${staged}/lib${CPACK_PACKAGING_INSTALL_PREFIX}")
endif()
file(MAKE_DIRECTORY "${view}/DEBIAN")
file(COPY "${CPACK_PIXELTOOLS_SHLIBS}" DESTINATION "${view}/DEBIAN")
file(CREATE_LINK "${staged}/lib${CPACK_PACKAGING_INSTALL_PREFIX}" "${view}${CPACK_PACKAGING_INSTALL_PREFIX}" SYMBOLIC)
