# Debian's hardening flags, as dpkg-buildflags gives them with hardening=+all:
# stack protector, fortified libc calls (where the build optimises: glibc wants -O),
# format checks, read-only relocations and immediate binding; every executable is a
# position-independent one. On for the normal builds, the package's among them
# (tests/package checks the installed programs with hardening-check). The sanitizer
# and fuzzing builds bring their own instrumentation and go without.
option(ORDERLINK_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ON)
if(NOT ORDERLINK_HARDENING OR ORDERLINK_SANITIZE OR ORDERLINK_TSAN OR ORDERLINK_FUZZ)
  return()
endif()

find_program(ORDERLINK_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT ORDERLINK_DPKG_BUILDFLAGS)
  message(FATAL_ERROR "dpkg-buildflags not found: install dpkg-dev (scripts/bootstrap) "
                      "or configure with -DORDERLINK_HARDENING=OFF")
endif()

function(orderlink_buildflags name out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${ORDERLINK_DPKG_BUILDFLAGS} --get ${name}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

# The build type keeps choosing debug information and optimisation; the source
# path stays as it is (the package is built from wherever the clone lies).
orderlink_buildflags(CXXFLAGS cxx_flags)
list(FILTER cxx_flags EXCLUDE REGEX "^-(g.*|O.*|ffile-prefix-map=.*|fdebug-prefix-map=.*)$")
orderlink_buildflags(CPPFLAGS cpp_flags)
orderlink_buildflags(LDFLAGS ld_flags)

foreach(flag ${cpp_flags})
  if(flag MATCHES "^-D_FORTIFY_SOURCE")
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
  else()
    add_compile_options(${flag})
  endif()
endforeach()
add_compile_options(${cxx_flags})
add_link_options(${ld_flags})

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()
message(STATUS "Hardening: ${cpp_flags} ${cxx_flags} ${ld_flags} PIE")
