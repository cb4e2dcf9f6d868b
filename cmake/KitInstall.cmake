# cmake --install BUILD --prefix P: libraries and the stand-ins they load in
# P/lib (each finds the others through RUNPATH $ORIGIN), the public headers
# in P/include, the jars in P/share/java, kit-vcard and kit-demo in P/bin,
# and pkg-config files in P/lib/pkgconfig.
#
# SONAMEs stay unversioned (libtarvik.so): libselvane.so loads libtarvik.so,
# and both load the outside libraries, by those plain file names at run
# time, so the file a versioned SONAME would leave behind as a development
# link is the one the kit needs in order to run.
#
# Folders are fixed (lib, not a multiarch one): the .pc files find the
# prefix two levels above themselves.

install(TARGETS ${KIT_LIBRARY_TARGETS} LIBRARY DESTINATION lib)
install(FILES include/orvel.h include/tarvik.h include/selvane.h DESTINATION include)
install_jar(tessaro_client DESTINATION share/java)
install_jar(vindra DESTINATION share/java)

# Also in the build tree (bin/../lib): a RUNPATH rewritten at install would
# end there in an empty entry, which the loader reads as the current directory.
set_target_properties(kit-demo PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "$ORIGIN/../lib")
install(TARGETS kit-vcard kit-demo RUNTIME DESTINATION bin)

# Relocatable: an install into any --prefix works without configuring again.
foreach(name orvel tarvik selvane)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/pkgconfig/${name}.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${name}.pc DESTINATION lib/pkgconfig)
endforeach()
