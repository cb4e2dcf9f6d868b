# cmake --install BUILD [--prefix P] [--strip], in the GNUInstallDirs folders
# (LIBDIR lib, INCLUDEDIR include, BINDIR bin, DATADIR share by default):
#
#   LIBDIR                 liborvel.so, libtarvik.so, libselvane.so and the
#                          kit's own synchronous-card reader libscardsyn.so
#   LIBDIR/pkgconfig       orvel.pc, tarvik.pc, selvane.pc
#   INCLUDEDIR             orvel.h, tarvik.h, selvane.h
#   DATADIR/java           tessaro-client.jar, vindra.jar
#   BINDIR                 kit-demo
#   DATADIR/tessaro-kit    uninstall, and its lists: files, folders
#
# Nothing of the test rig is installed (kit-vcard, testpki), nor the
# stand-ins that make up their answers: an installed kit finds the makers'
# libraries where the system's loader finds them.
#
# Before it writes anything, the install checks that everything it carries
# is built, then writes the uninstall and its lists (cmake/KitUninstall.cmake):
# an install that fails halfway leaves only what that uninstall removes.

set(KIT_UNINSTALL_DIR ${CMAKE_INSTALL_DATADIR}/tessaro-kit)
set(KIT_INSTALLED_LIBRARIES orvel tarvik selvane scardsyn)
set(KIT_INSTALLED_HEADERS orvel.h tarvik.h selvane.h)
set(KIT_INSTALLED_JARS tessaro_client vindra)
set(KIT_PC_NAMES orvel tarvik selvane)

# What the install copies from the build, and where each lands (relative to
# the prefix, or absolute where a GNUInstallDirs folder was set so).
set(sources "")
set(destinations "")
foreach(target IN LISTS KIT_INSTALLED_LIBRARIES)
  list(APPEND sources "$<TARGET_FILE:${target}>")
  list(APPEND destinations "${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:${target}>")
endforeach()
foreach(header IN LISTS KIT_INSTALLED_HEADERS)
  list(APPEND destinations "${CMAKE_INSTALL_INCLUDEDIR}/${header}")
endforeach()
foreach(jar IN LISTS KIT_INSTALLED_JARS)
  get_target_property(file ${jar} JAR_FILE)
  get_filename_component(name "${file}" NAME)
  list(APPEND sources "${file}")
  list(APPEND destinations "${CMAKE_INSTALL_DATADIR}/java/${name}")
endforeach()
list(APPEND sources "$<TARGET_FILE:kit-demo>")
list(APPEND destinations "${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:kit-demo>")
foreach(name IN LISTS KIT_PC_NAMES)
  list(APPEND destinations "${CMAKE_INSTALL_LIBDIR}/pkgconfig/${name}.pc")
endforeach()

set(work ${PROJECT_BINARY_DIR}/CMakeFiles/kit-install)
install(CODE "include([==[${CMAKE_CURRENT_LIST_DIR}/KitUninstall.cmake]==])
set(KIT_WORK [==[${work}]==])
set(KIT_DIR [==[${KIT_UNINSTALL_DIR}]==])
set(KIT_SCRIPT [==[${CMAKE_CURRENT_LIST_DIR}/uninstall.sh]==])
set(KIT_SOURCES [==[${sources}]==])
set(KIT_DESTINATIONS [==[${destinations}]==])
kit_begin_install()")

install(TARGETS ${KIT_INSTALLED_LIBRARIES} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
list(TRANSFORM KIT_INSTALLED_HEADERS PREPEND include/ OUTPUT_VARIABLE headers)
install(FILES ${headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
foreach(jar IN LISTS KIT_INSTALLED_JARS)
  install_jar(${jar} DESTINATION ${CMAKE_INSTALL_DATADIR}/java)
endforeach()

# kit-demo finds the libraries from BINDIR. Its build-tree copy (bin/) finds
# them in lib/ beside it: built with its install RUNPATH, as one rewritten
# at install would carry an empty entry in the build tree, which the loader
# reads as the current directory.
file(RELATIVE_PATH demo_to_libdir "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}")
set(demo_runpath "$ORIGIN/${demo_to_libdir}")
if(NOT demo_to_libdir STREQUAL "../lib")
  list(APPEND demo_runpath "$ORIGIN/../lib")
endif()
set_target_properties(kit-demo PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "${demo_runpath}")
install(TARGETS kit-demo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# build/pkgconfig/*.pc name the build tree (build/lib, the source's
# include/); the installed ones are written at install, for the prefix the
# install was given.
set(KIT_PC_PREFIX ${PROJECT_BINARY_DIR})
set(KIT_PC_LIBDIR [=[${prefix}/lib]=])
set(KIT_PC_INCLUDEDIR ${PROJECT_SOURCE_DIR}/include)
foreach(name IN LISTS KIT_PC_NAMES)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/pkgconfig/${name}.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/${name}.pc @ONLY)
endforeach()
install(CODE "set(KIT_PC_TEMPLATES [==[${CMAKE_CURRENT_LIST_DIR}/pkgconfig]==])
set(KIT_PC_NAMES ${KIT_PC_NAMES})
set(KIT_VERSION ${PROJECT_VERSION})
set(KIT_LIBDIR [==[${CMAKE_INSTALL_LIBDIR}]==])
set(KIT_INCLUDEDIR [==[${CMAKE_INSTALL_INCLUDEDIR}]==])
kit_install_pc_files()")
