# Debian's hardening for every build of ours, not only the package's: the
# tool runs for hours on a bench with files and lines that others feed it,
# so an overflow should stop it rather than run on. Added to
# quillon_build_options, which every target links.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

# Set by the caller's flags (dpkg-buildflags, a distribution's default),
# the level is theirs: defining it twice is a warning, an error with -Werror.
string(TOUPPER "CMAKE_CXX_FLAGS_${CMAKE_BUILD_TYPE}" quillon_type_flags)
string(FIND "${CMAKE_CXX_FLAGS} ${${quillon_type_flags}}" "_FORTIFY_SOURCE" quillon_fortify_given)

# A flag this compiler or target lacks (-fcf-protection off x86) is left out.
function(quillon_harden_with flag)
  string(MAKE_C_IDENTIFIER "QUILLON_HAS${flag}" known)
  check_cxx_compiler_flag(${flag} ${known})
  if(${known})
    target_compile_options(quillon_build_options INTERFACE ${flag})
  endif()
endfunction()

# On Windows too. mingw-w64 keeps the checks (and those of _FORTIFY_SOURCE)
# in libssp, which GCC links, statically here, when the flag is on the link line.
quillon_harden_with(-fstack-protector-strong)
if(QUILLON_HAS_fstack_protector_strong)
  target_link_options(quillon_build_options INTERFACE -fstack-protector-strong)
endif()
# Not on Windows: mingw-w64's GCC 12 stops with an internal compiler error
# (seh_emit_stackalloc) on the probes, and probes a frame larger than a page
# by itself there (___chkstk_ms).
if(NOT WIN32)
  quillon_harden_with(-fstack-clash-protection)
endif()
# The checked copies of memcpy and friends would bypass the sanitizers'
# interceptors and hide the faults they look for. Without optimisation
# glibc cannot check and says so, which -Werror turns into a failure.
if(NOT QUILLON_SANITIZE AND NOT QUILLON_FUZZ AND quillon_fortify_given EQUAL -1)
  target_compile_definitions(quillon_build_options INTERFACE
    $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
endif()

if(WIN32)
  # PE files have neither ELF relocations to seal nor GCC's CET notes;
  # their address randomisation is binutils' default.
  return()
endif()

quillon_harden_with(-fcf-protection)

# Position-independent executables, and relocations read-only once the
# program is loaded, with every symbol bound at start.
check_pie_supported()
set_property(TARGET quillon_build_options PROPERTY INTERFACE_POSITION_INDEPENDENT_CODE ON)
target_link_options(quillon_build_options INTERFACE LINKER:-z,relro LINKER:-z,now)
