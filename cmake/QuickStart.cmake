# How a Release qbox is linked so that a short run (one listing, one file) spends its time on
# the disk and not on starting. On this kind of machine every page a process touches for the
# first time costs a trap to the kernel (often to the hypervisor as well), so the link aims at
# touching fewer pages before main:
#   - a static position-independent program (-static-pie): no dynamic loader mapping and binding
#     the C library, and the code stays position-independent;
#   - the code a short run executes placed together: a run touches a few hundred functions
#     spread over the whole program (our code, the C++ runtime, the C library), so without
#     care nearly every 64 KB of code costs a fault of its own. With lld, functions in their
#     own sections (-ffunction-sections) are laid out in the order cmake/qbox-start-order.txt
#     lists them first; scripts/start-order.sh makes that list from runs of qbox under
#     callgrind. A name the list has and the program no longer has is skipped, so a stale
#     list costs speed, never correctness;
#   - packed relative relocations (-z pack-relative-relocs): the table the start-up walks to
#     relocate the program shrinks from about 190 KB to a few KB. GNU ld has them; lld only
#     from version 15, so with an older lld the ordered layout is taken without them (it
#     saves more faults than they do).
# Each is checked against the toolchain and the C library; where one is missing qbox is linked
# without it, and without all of them as before (dynamic C library, static C++ runtime). Other build types stay dynamic: the tests
# put faults into qbox's file writes through a preloaded library, which a static program ignores.
include(CheckCXXSourceCompiles)

function(qb_link_qbox_for_quick_start target core)
  set(program "#include <cstdio>\nint main() { std::puts(\"x\"); }\n")
  set(CMAKE_REQUIRED_QUIET ON)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
  check_cxx_source_compiles("${program}" QB_LINKS_STATIC_PIE)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie -Wl,-z,pack-relative-relocs)
  check_cxx_source_compiles("${program}" QB_LINKS_PACKED_RELOCS)
  set(order_file "${CMAKE_SOURCE_DIR}/cmake/qbox-start-order.txt")
  set(ordered_link -fuse-ld=lld "LINKER:--symbol-ordering-file=${order_file}" "LINKER:--no-warn-symbol-ordering")
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie -fuse-ld=lld "-Wl,--symbol-ordering-file=${order_file}"
      -Wl,--no-warn-symbol-ordering)
  check_cxx_source_compiles("${program}" QB_LINKS_ORDERED)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie -fuse-ld=lld -Wl,-z,pack-relative-relocs -Wl,--fatal-warnings)
  check_cxx_source_compiles("${program}" QB_LLD_PACKS_RELOCS)

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
  set(packed_relocs ${QB_LINKS_PACKED_RELOCS})
  if(QB_LINKS_ORDERED)
    foreach(compiled ${target} ${core})
      target_compile_options(${compiled} PRIVATE "$<${release}:-ffunction-sections>")
    endforeach()
    target_link_options(${target} PRIVATE "$<${release}:${ordered_link}>")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${order_file}")
    set(packed_relocs ${QB_LLD_PACKS_RELOCS})
  else()
    message(STATUS "qbox: lld not found; linked without the start-up order")
  endif()
  if(packed_relocs)
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
