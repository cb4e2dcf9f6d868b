# cmake --install BUILD --prefix P: the kit's three libraries and its own
# synchronous-card reader libscardsyn.so in P/lib, the public headers in
# P/include, the jars in P/share/java, kit-vcard and kit-demo in P/bin,
# pkg-config files in P/lib/pkgconfig, and P/share/tessaro-kit/uninstall,
# which removes what the install put in P (cmake/KitUninstall.cmake).
#
# The other stand-ins make up their answers (a fixed identity, a fixed
# reader list, a pinpad that "types" a PIN from the environment, a
# simulated terminal, a display that shows nothing): they serve the demo,
# the rig and the tests from build/lib and are never installed. An
# installed kit finds the makers' libraries where the system's loader finds
# them; P/lib holds none that would come first through RUNPATH $ORIGIN.
#
# SONAMEs stay unversioned (libtarvik.so): libselvane.so loads libtarvik.so,
# and both load the outside libraries, by those plain file names at run
# time, so the file a versioned SONAME would leave behind as a development
# link is the one the kit needs in order to run.
#
# Folders are fixed (lib, not a multiarch one): the .pc files find the
# prefix two levels above themselves.

# Before anything is copied: which of the install's folders are not there yet.
install(CODE "include(\"${CMAKE_CURRENT_LIST_DIR}/KitUninstall.cmake\")
kit_note_made_folders(lib lib/pkgconfig include share/java bin share/tessaro-kit)")

install(TARGETS orvel tarvik selvane scardsyn LIBRARY DESTINATION lib)
install(FILES include/orvel.h include/tarvik.h include/selvane.h DESTINATION include)
install_jar(tessaro_client DESTINATION share/java)
install_jar(vindra DESTINATION share/java)

# Also in the build tree (bin/../lib): a RUNPATH rewritten at install would
# end there in an empty entry, which the loader reads as the current directory.
set_target_properties(kit-demo PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "$ORIGIN/../lib")
install(TARGETS kit-vcard kit-demo RUNTIME DESTINATION bin)

# build/pkgconfig/*.pc name the build tree (build/lib, the source's
# include/); the installed ones find the prefix from their own place, so an
# install into any --prefix works without configuring again.
foreach(name orvel tarvik selvane)
  set(template ${CMAKE_CURRENT_LIST_DIR}/pkgconfig/${name}.pc.in)
  set(KIT_PC_PREFIX ${PROJECT_BINARY_DIR})
  set(KIT_PC_INCLUDEDIR ${PROJECT_SOURCE_DIR}/include)
  configure_file(${template} ${PROJECT_BINARY_DIR}/pkgconfig/${name}.pc @ONLY)
  set(KIT_PC_PREFIX [=[${pcfiledir}/../..]=])
  set(KIT_PC_INCLUDEDIR [=[${prefix}/include]=])
  configure_file(${template} ${PROJECT_BINARY_DIR}/CMakeFiles/kit-install/${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/CMakeFiles/kit-install/${name}.pc DESTINATION lib/pkgconfig)
endforeach()

# Last: the uninstall, listing every file above.
install(CODE "kit_write_uninstall(share/tessaro-kit/uninstall)")
