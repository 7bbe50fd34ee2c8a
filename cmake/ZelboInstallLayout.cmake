# Where an installed copy keeps its parts, and the generated header that tells
# the program. Everything ships under one prefix, laid out as the Linux
# filesystem expects:
#   bin/zelbo                           the program
#   lib/<multiarch>/zelbo/              its private libraries: the bridge, the simulated board
#   lib/<multiarch>/libCalora.so.N      the temperature-controller library (public)
#   share/zelbo/                        the FPGA image and the translations
# The program finds the private folder and the data folder relative to its own
# folder, so a copy installed under any prefix (or unpacked elsewhere) works.
# In the build tree everything lies beside the program, and that is looked at first.

# Debian's multiarch library folder, whatever the prefix at configure time
# (GNUInstallDirs picks it only for the prefix /usr, and packages go there).
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries")
endif()
include(GNUInstallDirs)

set(ZELBO_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/zelbo)
set(ZELBO_DATADIR ${CMAKE_INSTALL_DATADIR}/zelbo)
# The udev rule belongs in the system's rules folder whatever the prefix.
set(ZELBO_UDEV_RULES_DIR /lib/udev/rules.d CACHE PATH "Where the udev rule is installed")

file(RELATIVE_PATH ZELBO_REL_PRIVATE_LIBDIR ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${ZELBO_PRIVATE_LIBDIR})
file(RELATIVE_PATH ZELBO_REL_DATADIR ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${ZELBO_DATADIR})

# Shared libraries are installed without the executable bit, as Debian expects.
set(ZELBO_LIBRARY_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Libraries carry the major version as their SOVERSION.
set(ZELBO_SOVERSION 1)

configure_file(${CMAKE_CURRENT_LIST_DIR}/build_info.h.in ${CMAKE_BINARY_DIR}/generated/common/build_info.h @ONLY)
# zelbo_use_build_info(target): lets the target's own sources include
# "common/build_info.h" (private, so that nothing else is rebuilt for it).
function(zelbo_use_build_info target)
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
endfunction()
