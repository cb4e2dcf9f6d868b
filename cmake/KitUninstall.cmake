# Runs inside `cmake --install` (see KitInstall.cmake): the uninstall
# P/share/tessaro-kit/uninstall (from uninstall.sh.in) removes the files this
# install put in P, then the folders it made, each once it is empty. It
# lives in the prefix, so the tests, the demo, a rebuild or a removed build
# folder leave it true; a second install into P adds to what the first
# one's uninstall listed.
cmake_policy(VERSION 3.25)
set(KIT_UNINSTALL_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/uninstall.sh.in)

# kit_prefix_path(OUT PATH): PATH under the prefix, as the install's own
# rules name it ("${CMAKE_INSTALL_PREFIX}/PATH"; --prefix / leaves the
# prefix empty), made absolute from the working folder when relative.
function(kit_prefix_path out path)
  set(full "${CMAKE_INSTALL_PREFIX}/${path}")
  cmake_path(ABSOLUTE_PATH full NORMALIZE)
  string(REGEX REPLACE "(.)/$" "\\1" full "${full}")
  set(${out} "${full}" PARENT_SCOPE)
endfunction()

# kit_note_made_folders(FOLDER...): folders under the prefix that the
# install will make, parents included, in KIT_MADE_FOLDERS.
function(kit_note_made_folders)
  set(made "")
  foreach(folder IN LISTS ARGN)
    kit_prefix_path(path "${folder}")
    while(NOT EXISTS "$ENV{DESTDIR}${path}")
      list(APPEND made "${path}")
      get_filename_component(parent "${path}" DIRECTORY)
      if(parent STREQUAL path)
        break()  # the root, missing only under a DESTDIR yet to be made
      endif()
      set(path "${parent}")
    endwhile()
  endforeach()
  set(KIT_MADE_FOLDERS "${made}" PARENT_SCOPE)
endfunction()

# kit_uninstall_section(SCRIPT NAME OUT): the lines of an existing
# uninstall's here-document NAME.
function(kit_uninstall_section script name out)
  set(lines "")
  if(EXISTS "${script}")
    file(READ "${script}" text)
    if(text MATCHES "<<'${name}'\n(.*)\n${name}\n")
      string(REPLACE "\n" ";" lines "${CMAKE_MATCH_1}")
    endif()
  endif()
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# kit_write_uninstall(PATH): writes the uninstall at PATH under the prefix,
# listing CMAKE_INSTALL_MANIFEST_FILES (which it joins) and KIT_MADE_FOLDERS.
function(kit_write_uninstall path)
  kit_prefix_path(script "${path}")
  set(destdir "$ENV{DESTDIR}")
  string(LENGTH "${destdir}" destdir_length)
  set(files "${script}")
  foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
    string(SUBSTRING "${file}" ${destdir_length} -1 file)
    list(APPEND files "${file}")
  endforeach()
  set(folders "${KIT_MADE_FOLDERS}")
  kit_uninstall_section("${destdir}${script}" KIT_FILES earlier_files)
  kit_uninstall_section("${destdir}${script}" KIT_FOLDERS earlier_folders)
  list(APPEND files ${earlier_files})
  list(APPEND folders ${earlier_folders})
  list(REMOVE_ITEM folders "-" "/")
  list(REMOVE_DUPLICATES files)
  list(REMOVE_DUPLICATES folders)
  # Deepest first: a folder's own folders sort after it.
  list(SORT folders ORDER DESCENDING)
  kit_prefix_path(PREFIX ".")
  string(REPLACE ";" "\n" FILES "${files}")
  string(REPLACE ";" "\n" FOLDERS "${folders}")
  if(FOLDERS STREQUAL "")
    set(FOLDERS "-")  # a here-document needs a line; "-" names no folder
  endif()
  file(READ "${KIT_UNINSTALL_TEMPLATE}" template)
  string(CONFIGURE "${template}" text @ONLY)
  message(STATUS "Installing: ${destdir}${script}")
  file(WRITE "${destdir}${script}" "${text}")
  file(CHMOD "${destdir}${script}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                                WORLD_READ WORLD_EXECUTE)
  set(CMAKE_INSTALL_MANIFEST_FILES ${CMAKE_INSTALL_MANIFEST_FILES} "${destdir}${script}" PARENT_SCOPE)
endfunction()
