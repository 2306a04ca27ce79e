# How a Release qbox is linked so that a short run (one listing, one file) spends its time on
# the disk and not on starting. On this kind of machine every page a process touches for the
# first time costs a trap to the kernel (often to the hypervisor as well), so the link aims at
# touching fewer pages before main:
#   - a static position-independent program (-static-pie): no dynamic loader mapping and binding
#     the C library, and the code stays position-independent;
#   - packed relative relocations (-z pack-relative-relocs): the table the start-up walks to
#     relocate the program shrinks from about 190 KB to a few KB.
# Each is checked against the toolchain and the C library; where one is missing qbox is linked
# as before (dynamic C library, static C++ runtime). Other build types stay dynamic: the tests
# put faults into qbox's file writes through a preloaded library, which a static program ignores.
include(CheckCXXSourceCompiles)

function(qb_link_qbox_for_quick_start target)
  set(program "#include <cstdio>\nint main() { std::puts(\"x\"); }\n")
  set(CMAKE_REQUIRED_QUIET ON)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
  check_cxx_source_compiles("${program}" QB_LINKS_STATIC_PIE)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie -Wl,-z,pack-relative-relocs)
  check_cxx_source_compiles("${program}" QB_LINKS_PACKED_RELOCS)

  set(static_fuse "")
  if(QB_HAVE_FUSE)
    find_library(QB_FUSE3_STATIC NAMES libfuse3.a)
    set(static_fuse "${QB_FUSE3_STATIC}")
  endif()
  if(NOT QB_LINKS_STATIC_PIE OR (QB_HAVE_FUSE AND NOT static_fuse))
    message(STATUS "qbox: static position-independent link not available; linked dynamically")
    if(QB_HAVE_FUSE)
      target_link_libraries(${target} PRIVATE PkgConfig::FUSE3)
    endif()
    target_link_options(${target} PRIVATE $<$<CONFIG:Release>:-static-libstdc++ -static-libgcc>)
    return()
  endif()

  # Debug and sanitizer builds stay dynamic: the sanitizers need the dynamic loader.
  set(release "$<AND:$<CONFIG:Release>,$<NOT:$<BOOL:${QB_SANITIZE}>>>")
  target_link_options(${target} PRIVATE "$<${release}:-static-pie>")
  if(QB_LINKS_PACKED_RELOCS)
    target_link_options(${target} PRIVATE "$<${release}:LINKER:-z,pack-relative-relocs>")
  endif()
  if(QB_HAVE_FUSE)
    # libfuse's static archive, not its shared library, and the one symbol it would load
    # modules with routed to a stand-in (see src/cli/link/NoFuseModules.cpp).
    target_include_directories(${target} PRIVATE ${FUSE3_INCLUDE_DIRS})
    target_compile_options(${target} PRIVATE ${FUSE3_CFLAGS_OTHER})
    target_link_libraries(${target} PRIVATE "$<IF:${release},${static_fuse},PkgConfig::FUSE3>")
    target_link_options(${target} PRIVATE "$<${release}:LINKER:--wrap=dlopen>")
    target_sources(${target} PRIVATE "$<${release}:${CMAKE_SOURCE_DIR}/src/cli/link/NoFuseModules.cpp>")
  endif()
endfunction()
