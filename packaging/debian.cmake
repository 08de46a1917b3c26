# Initial cache for the Debian package, and for installing from source on Debian:
#   cmake -S . -B build-deb -C packaging/debian.cmake
# Poppler's pdfinfo counts the pages (the package depends on poppler-utils), and the prefix /usr
# puts the plutil stand-in into /usr/bin, on the PATH that CUPS gives a backend. Compiler and
# linker flags are Debian's hardened ones: the backend runs as root on print data from any user.
set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Installation prefix")
set(VP_PAGE_COUNT_PROGRAM /usr/bin/pdfinfo CACHE STRING "PDF page-count program")
set(VP_TESTS OFF CACHE BOOL "Build the tests")
set(CMAKE_BUILD_TYPE None CACHE STRING "Build type (flags from dpkg-buildflags)")

find_program(VP_DPKG_BUILDFLAGS dpkg-buildflags)
if(VP_DPKG_BUILDFLAGS)
  set(ENV{DEB_BUILD_MAINT_OPTIONS} "hardening=+all")
  foreach(flag CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND ${VP_DPKG_BUILDFLAGS} --get ${flag} OUTPUT_VARIABLE VP_${flag}
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
  endforeach()
  set(CMAKE_C_FLAGS "${VP_CPPFLAGS} ${VP_CFLAGS}" CACHE STRING "C compiler flags")
  set(CMAKE_CXX_FLAGS "${VP_CPPFLAGS} ${VP_CXXFLAGS}" CACHE STRING "C++ compiler flags")
  set(CMAKE_EXE_LINKER_FLAGS "${VP_LDFLAGS}" CACHE STRING "Linker flags")
endif()
