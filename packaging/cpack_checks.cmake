# Read by cpack for each package it makes. The backend's paths are compiled in, so a Debian
# package built from a tree configured for another layout would install a backend that looks for
# its programs where the package does not put them.
if(CPACK_GENERATOR STREQUAL "DEB")
  if(NOT CPACK_VP_PAGE_COUNT_PROGRAM STREQUAL "/usr/bin/pdfinfo"
     OR NOT CPACK_VP_INSTALL_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "This build tree is configured with the page-count program "
                        "${CPACK_VP_PAGE_COUNT_PROGRAM} and the prefix ${CPACK_VP_INSTALL_PREFIX}; "
                        "the Debian package needs /usr/bin/pdfinfo (poppler-utils) and /usr. "
                        "Configure a tree with: cmake -S . -B build-deb -C packaging/debian.cmake")
  endif()
endif()
# The installer package goes to Macs of either architecture.
if(CPACK_GENERATOR STREQUAL "productbuild")
  list(FIND CPACK_VP_OSX_ARCHITECTURES arm64 arm)
  list(FIND CPACK_VP_OSX_ARCHITECTURES x86_64 intel)
  if(arm LESS 0 OR intel LESS 0)
    message(FATAL_ERROR "This build tree is built for '${CPACK_VP_OSX_ARCHITECTURES}'; the package "
                        "needs arm64 and x86_64. Configure a tree without tests, which builds "
                        "both: cmake -S . -B build-pkg -DVP_TESTS=OFF -DCMAKE_BUILD_TYPE=Release")
  endif()
endif()
