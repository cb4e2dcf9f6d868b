# Runs inside `cmake --install` (see KitInstall.cmake). Before anything is
# copied it writes the uninstall (uninstall.sh) into the kit's folder, with
# two lists beside it, one path a line: "files", every file the install
# writes, and "folders", the folders it makes, deepest first. A second
# install into the same prefix adds to the lists of the first.
#
# The paths are the real ones, symbolic links of the time resolved, so the
# uninstall can tell when a link made later leads elsewhere, and then
# leaves that path alone. Paths that hold the prefix are kept in strings,
# never in CMake lists, where a ";" or "[" in the prefix would split or join
# them.
cmake_policy(VERSION 3.25)

# kit_prefix_path(OUT PATH): PATH under the prefix, as the install's own
# rules name it (an absolute PATH as it is), without a trailing "/", made
# absolute from the working folder when the prefix is relative.
function(kit_prefix_path out path)
  set(full "${path}")
  cmake_path(ABSOLUTE_PATH full BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" NORMALIZE)
  cmake_path(ABSOLUTE_PATH full NORMALIZE)
  string(REGEX REPLACE "(.)/$" "\\1" full "${full}")
  set(${out} "${full}" PARENT_SCOPE)
endfunction()

# kit_real_path(OUT PATH): PATH with the links of its deepest existing
# folder resolved; the rest is what the install makes, real folders.
function(kit_real_path out path)
  set(rest "")
  set(here "${path}")
  while(NOT EXISTS "${here}" AND NOT IS_SYMLINK "${here}")
    get_filename_component(name "${here}" NAME)
    get_filename_component(parent "${here}" DIRECTORY)
    if(parent STREQUAL "" OR parent STREQUAL here)
      break()  # a relative DESTDIR none of which is there yet
    endif()
    set(here "${parent}")
    set(rest "/${name}${rest}")
  endwhile()
  file(REAL_PATH "${here}" real)
  string(REGEX REPLACE "/$" "" real "${real}")
  set(${out} "${real}${rest}" PARENT_SCOPE)
endfunction()

# kit_listed_path(OUT PATH): PATH (under the prefix, without DESTDIR) as the
# lists name it: its folder's real path, which under DESTDIR staging is taken
# inside the staging folder.
function(kit_listed_path out path)
  get_filename_component(folder "${path}" DIRECTORY)
  get_filename_component(name "${path}" NAME)
  set(destdir "$ENV{DESTDIR}")
  kit_real_path(real "${destdir}${folder}")
  if(NOT destdir STREQUAL "")
    kit_real_path(stage "${destdir}")
    string(LENGTH "${stage}" length)
    string(SUBSTRING "${real}" 0 ${length} head)
    string(SUBSTRING "${real}" ${length} -1 tail)
    if(head STREQUAL stage AND (tail STREQUAL "" OR tail MATCHES "^/"))
      set(real "${tail}")
    else()
      set(real "${folder}")  # leads out of the staging folder: kept as given
    endif()
  endif()
  string(REGEX REPLACE "/$" "" real "${real}")
  set(${out} "${real}/${name}" PARENT_SCOPE)
endfunction()

# kit_add_line(VAR LINE): appends LINE to the lines in VAR unless there.
function(kit_add_line var line)
  string(FIND "\n${${var}}" "\n${line}\n" at)
  if(at EQUAL -1)
    set(${var} "${${var}}${line}\n" PARENT_SCOPE)
  endif()
endfunction()

# kit_add_lines(VAR TEXT): appends each line of TEXT to VAR, as kit_add_line.
function(kit_add_lines var text)
  set(lines "${${var}}")
  while(NOT text STREQUAL "")
    string(FIND "${text}" "\n" end)
    if(end EQUAL -1)
      string(LENGTH "${text}" end)
    endif()
    string(SUBSTRING "${text}" 0 ${end} line)
    math(EXPR end "${end} + 1")
    string(SUBSTRING "${text}" ${end} -1 text)
    if(NOT line STREQUAL "")
      kit_add_line(lines "${line}")
    endif()
  endwhile()
  set(${var} "${lines}" PARENT_SCOPE)
endfunction()

# kit_install_text(FOLDER NAME TEXT [PERMISSIONS...]): installs TEXT as the
# file NAME in FOLDER (under the prefix), through a copy in a folder of its
# own in KIT_WORK, as installs from one build may run at once.
function(kit_install_text folder name text)
  string(RANDOM LENGTH 16 stamp)
  set(copy "${KIT_WORK}/${stamp}/${name}")
  file(WRITE "${copy}" "${text}")
  set(permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ ${ARGN})
  file(INSTALL "${copy}" DESTINATION "${folder}" PERMISSIONS ${permissions})
  file(REMOVE_RECURSE "${KIT_WORK}/${stamp}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

# kit_next_line(VAR LINE): takes the first line of VAR (left in LINE).
macro(kit_next_line var line)
  string(FIND "${${var}}" "\n" kit_end)
  string(SUBSTRING "${${var}}" 0 ${kit_end} ${line})
  math(EXPR kit_end "${kit_end} + 1")
  string(SUBSTRING "${${var}}" ${kit_end} -1 ${var})
endmacro()

# kit_deepest_first(VAR): sorts the lines of VAR (folders) so that a folder's
# own folders come before it.
function(kit_deepest_first var)
  set(depths "")
  set(rest "${${var}}")
  set(max 0)
  while(NOT rest STREQUAL "")
    kit_next_line(rest line)
    string(REGEX REPLACE "[^/]" "" slashes "${line}")
    string(LENGTH "${slashes}" depth)
    if(depth GREATER max)
      set(max ${depth})
    endif()
  endwhile()
  set(sorted "")
  foreach(depth RANGE ${max} 0 -1)
    set(rest "${${var}}")
    while(NOT rest STREQUAL "")
      kit_next_line(rest line)
      string(REGEX REPLACE "[^/]" "" slashes "${line}")
      string(LENGTH "${slashes}" length)
      if(length EQUAL depth)
        set(sorted "${sorted}${line}\n")
      endif()
    endwhile()
  endforeach()
  set(${var} "${sorted}" PARENT_SCOPE)
endfunction()

# kit_begin_install(): with KIT_SOURCES (what the install copies from the
# build), KIT_DESTINATIONS (what it writes, relative to the prefix), KIT_DIR
# (the kit's folder, for the uninstall), KIT_SCRIPT (the uninstall) and
# KIT_WORK (a folder of the build), checks that all is there, then writes
# the uninstall and its lists.
function(kit_begin_install)
  foreach(path IN ITEMS "${CMAKE_INSTALL_PREFIX}" "$ENV{DESTDIR}")
    if(path MATCHES "\n")
      message(FATAL_ERROR "The uninstall lists one path a line: a prefix or DESTDIR holding a line break cannot be installed to. Nothing was installed.")
    endif()
  endforeach()
  get_filename_component(build "${KIT_WORK}/../.." ABSOLUTE)
  foreach(source IN LISTS KIT_SOURCES)
    if(NOT EXISTS "${source}")
      message(FATAL_ERROR "${source} is not built: build the kit first (cmake --build ${build}). Nothing was installed.")
    endif()
  endforeach()

  set(destdir "$ENV{DESTDIR}")
  kit_prefix_path(kit_dir "${KIT_DIR}")
  set(files "")
  foreach(name IN ITEMS uninstall files folders)
    kit_listed_path(listed "${kit_dir}/${name}")
    kit_add_line(files "${listed}")
  endforeach()
  # The folders the install makes. Staged (DESTDIR), the staging folder
  # tells nothing of the system the files will reach, where folders such as
  # /usr/local/lib are there and shared: then only the kit's own folder.
  set(folders "${kit_dir}\n")
  foreach(destination IN LISTS KIT_DESTINATIONS)
    kit_prefix_path(path "${destination}")
    kit_listed_path(listed "${path}")
    kit_add_line(files "${listed}")
    if(destdir STREQUAL "")
      get_filename_component(folder "${path}" DIRECTORY)
      kit_add_line(folders "${folder}")
    endif()
  endforeach()
  set(made "")
  while(NOT folders STREQUAL "")
    kit_next_line(folders folder)
    while(NOT EXISTS "${destdir}${folder}" AND NOT IS_SYMLINK "${destdir}${folder}")
      kit_listed_path(listed "${folder}")
      kit_add_line(made "${listed}")
      get_filename_component(parent "${folder}" DIRECTORY)
      if(parent STREQUAL folder OR NOT destdir STREQUAL "")
        break()
      endif()
      set(folder "${parent}")
    endwhile()
  endwhile()

  # An earlier install's lists: what it wrote stays listed.
  foreach(list IN ITEMS files folders)
    if(EXISTS "${destdir}${kit_dir}/${list}")
      file(READ "${destdir}${kit_dir}/${list}" earlier)
      if(list STREQUAL "files")
        kit_add_lines(files "${earlier}")
      else()
        kit_add_lines(made "${earlier}")
      endif()
    endif()
  endforeach()
  kit_deepest_first(made)

  file(READ "${KIT_SCRIPT}" script)
  kit_install_text("${kit_dir}" files "${files}")
  kit_install_text("${kit_dir}" folders "${made}")
  kit_install_text("${kit_dir}" uninstall "${script}" OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

# kit_install_pc_files(): the pkg-config files KIT_PC_NAMES for the prefix
# of this install, in the GNUInstallDirs folders KIT_LIBDIR and
# KIT_INCLUDEDIR (each "${prefix}/..." unless given absolute).
function(kit_install_pc_files)
  kit_prefix_path(KIT_PC_PREFIX ".")
  string(REGEX REPLACE "/$" "" KIT_PC_PREFIX "${KIT_PC_PREFIX}")
  foreach(dir IN ITEMS LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${KIT_${dir}}")
      set(KIT_PC_${dir} "${KIT_${dir}}")
    else()
      set(KIT_PC_${dir} "\${prefix}/${KIT_${dir}}")
    endif()
  endforeach()
  set(PROJECT_VERSION ${KIT_VERSION})
  kit_prefix_path(pc_dir "${KIT_LIBDIR}/pkgconfig")
  foreach(name IN LISTS KIT_PC_NAMES)
    file(READ "${KIT_PC_TEMPLATES}/${name}.pc.in" template)
    string(CONFIGURE "${template}" text @ONLY)
    kit_install_text("${pc_dir}" ${name}.pc "${text}")
  endforeach()
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()
