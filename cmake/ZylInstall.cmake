# Installing files whose text names installed paths (the pkg-config file, the
# systemd unit, the bus activation file). They are written when installing,
# with the prefix that install runs with (`cmake --install --prefix`, CPack),
# so they name the paths the files really land in; then they are installed
# like any other file: DESTDIR applies and the install manifest lists them.
#
# In a template, @ZYL_PREFIX@ is the install prefix and @ZYL_FULL_BINDIR@,
# @ZYL_FULL_LIBDIR@, @ZYL_FULL_INCLUDEDIR@ the absolute folders;
# @PROJECT_VERSION@ the version. `component` is the install component (the
# Debian package, cmake/ZylPackage.cmake) the file belongs to.
function(zyl_install_configured template destination component)
  get_filename_component(name "${template}" NAME)
  string(REGEX REPLACE "\\.in$" "" name "${name}")
  set(out "${PROJECT_BINARY_DIR}/install-configured/${name}")
  install(CODE "
    set(ZYL_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    foreach(pair \"BINDIR=${CMAKE_INSTALL_BINDIR}\" \"LIBDIR=${CMAKE_INSTALL_LIBDIR}\"
                 \"INCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}\")
      string(REGEX REPLACE \"=.*\" \"\" kind \"\${pair}\")
      string(REGEX REPLACE \"^[A-Z]*=\" \"\" dir \"\${pair}\")
      if(NOT IS_ABSOLUTE \"\${dir}\")
        set(dir \"\${CMAKE_INSTALL_PREFIX}/\${dir}\")
      endif()
      set(ZYL_FULL_\${kind} \"\${dir}\")
    endforeach()
    set(PROJECT_VERSION \"${PROJECT_VERSION}\")
    configure_file(\"${template}\" \"${out}\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${destination}\" TYPE FILE FILES \"${out}\")
  " COMPONENT ${component})
endfunction()

# Installs a manual page (troff source named <name>.<section>) into
# man<section> of the manual folder, compressed as Debian ships manual pages
# (gzip -9, without name or time stamp, so the same page gives the same
# bytes).
find_program(ZYL_GZIP gzip REQUIRED)
function(zyl_install_manual page component)
  get_filename_component(name "${page}" NAME)
  string(REGEX REPLACE "^.*\\." "" section "${name}")
  set(out "${PROJECT_BINARY_DIR}/man/${name}.gz")
  add_custom_command(OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${PROJECT_BINARY_DIR}/man"
    COMMAND ${ZYL_GZIP} -9 -n -c "${page}" > "${out}"
    DEPENDS "${page}" VERBATIM)
  add_custom_target(man_${name} ALL DEPENDS "${out}")
  install(FILES "${out}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man${section}" COMPONENT ${component})
endfunction()

# Where the service's unit and bus activation file go, relative to the
# prefix: the folders systemd and the system bus read under /usr.
set(ZYL_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Folder of the systemd unit, relative to the install prefix")
set(ZYL_DBUS_SERVICES_DIR "${CMAKE_INSTALL_DATADIR}/dbus-1/system-services" CACHE STRING
    "Folder of the D-Bus system service activation file, relative to the install prefix")
