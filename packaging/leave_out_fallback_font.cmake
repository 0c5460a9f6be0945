# Run by CPack between its staged install and the packing: the .deb depends on Debian's Liberation
# Sans instead of carrying the program's own copy, which an install from source brings along.
set(fonts "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_BRISKO_LEFT_OUT}")
file(REMOVE_RECURSE "${fonts}")
cmake_path(GET fonts PARENT_PATH data)
file(GLOB rest "${data}/*")
if(NOT rest)
  file(REMOVE_RECURSE "${data}")
endif()
