# Run paths without empty entries.
#
# CMake's usual build-tree run path is padded with ':' so that install can
# rewrite it in place; an empty entry makes the loader search the current
# directory, so a library dropped where a user runs a program from would be
# loaded. Instead every program and shared library is linked once with its
# final run path: its installed one plus the build tree's host library
# folder, relative to the binary. The install step then sets the installed
# files to their installed run path alone.

set(CMAKE_BUILD_WITH_INSTALL_RPATH ON)

# Every target defined in `dir` and its subdirectories.
function(_trm27k_targets_in dir out)
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    _trm27k_targets_in("${sub}" more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Call once, after every target and install rule is defined. Each binary's
# own installed run path (its INSTALL_RPATH) is kept and the build tree's
# host library folder added after it; the install step then puts back the
# installed run path alone.
function(trm27k_set_run_paths)
  _trm27k_targets_in("${CMAKE_SOURCE_DIR}" targets)
  set(installed_paths "")
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
      continue()
    endif()
    get_target_property(installed ${target} INSTALL_RPATH)
    if(NOT installed)
      set(installed "")
    endif()
    get_target_property(dir ${target} BINARY_DIR)
    file(RELATIVE_PATH host "${dir}" "${CMAKE_BINARY_DIR}/host")
    set(build "$ORIGIN/${host}")
    if(host STREQUAL "")
      set(build "$ORIGIN")
    endif()
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${installed};${build}")
    if(installed STREQUAL "")
      set_target_properties(${target} PROPERTIES INSTALL_RPATH "${build}")
    endif()
    string(REPLACE ";" ":" installed "${installed}")
    string(APPEND installed_paths "set(\"run_path_$<TARGET_FILE_NAME:${target}>\" \"${installed}\")\n")
  endforeach()
  # Runs after every other install rule. The manifest names the files
  # without DESTDIR, under which a staged install (cpack) puts them.
  install(CODE "${installed_paths}
    foreach(listed IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
      set(file \"\$ENV{DESTDIR}\${listed}\")
      get_filename_component(name \"\${file}\" NAME)
      if(NOT IS_SYMLINK \"\${file}\" AND DEFINED \"run_path_\${name}\")
        if(\"\${run_path_\${name}}\" STREQUAL \"\")
          file(RPATH_REMOVE FILE \"\${file}\")
        else()
          file(RPATH_SET FILE \"\${file}\" NEW_RPATH \"\${run_path_\${name}}\")
        endif()
      endif()
    endforeach()")
endfunction()
