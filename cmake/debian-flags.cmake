# Debian's hardening flags from dpkg-buildflags (fortify, stack protector, full RELRO with immediate
# binding, PIE) for the Linux program, when dpkg-buildflags is there; the sanitizer build goes without.
# Stack clash protection too, which dpkg-buildflags adds from trixie on.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(DPKG_BUILDFLAGS AND NOT LANX_SANITIZE)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
      ${DPKG_BUILDFLAGS} --get ${kind} OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    if(kind STREQUAL LDFLAGS)
      add_link_options(${flags})
    else()
      add_compile_options(${flags})
    endif()
  endforeach()
  add_compile_options(-fstack-clash-protection)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()
