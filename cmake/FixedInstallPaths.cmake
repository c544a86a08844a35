# veltris_install_fixed(DESTINATION <absolute folder> FILES <files...> COMPONENT <component>)
#
# Installs files into a folder that does not follow the install prefix: the
# places the desktop and polkit read (/etc/xdg/autostart,
# /usr/share/polkit-1/actions) are the same for every prefix.
#   - with DESTDIR (cmake --install, cpack), or with the configured prefix:
#     <DESTDIR><folder>;
#   - an install relocated with --prefix, without DESTDIR, into a tree of its
#     own (a staging folder): inside that tree, below the part of the prefix that stands for
#     "/" (--prefix /stage/usr/local gives /stage<folder>; --prefix /stage gives
#     /stage<folder>), so a staged install never writes into the running system.
function(veltris_install_fixed)
  cmake_parse_arguments(F "" "DESTINATION;COMPONENT" "FILES" ${ARGN})
  if(NOT IS_ABSOLUTE "${F_DESTINATION}")
    message(FATAL_ERROR "veltris_install_fixed: DESTINATION must be absolute: ${F_DESTINATION}")
  endif()
  set(files "")
  foreach(file ${F_FILES})
    if(NOT IS_ABSOLUTE "${file}")
      set(file "${CMAKE_CURRENT_SOURCE_DIR}/${file}")
    endif()
    string(APPEND files " \"${file}\"")
  endforeach()
  set(configured "${CMAKE_INSTALL_PREFIX}")
  install(CODE "
    set(veltris_top \"\")
    if(\"\$ENV{DESTDIR}\" STREQUAL \"\" AND NOT \"\${CMAKE_INSTALL_PREFIX}\" STREQUAL \"${configured}\")
      set(veltris_top \"\${CMAKE_INSTALL_PREFIX}\")
      string(LENGTH \"${configured}\" veltris_configured_length)
      string(LENGTH \"\${CMAKE_INSTALL_PREFIX}\" veltris_length)
      math(EXPR veltris_start \"\${veltris_length} - \${veltris_configured_length}\")
      if(veltris_start GREATER 0)
        string(SUBSTRING \"\${CMAKE_INSTALL_PREFIX}\" \${veltris_start} -1 veltris_tail)
        if(veltris_tail STREQUAL \"${configured}\")
          string(SUBSTRING \"\${CMAKE_INSTALL_PREFIX}\" 0 \${veltris_start} veltris_top)
        endif()
      endif()
    endif()
    file(INSTALL DESTINATION \"\${veltris_top}${F_DESTINATION}\" TYPE FILE
         PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ FILES${files})
  " COMPONENT ${F_COMPONENT})
endfunction()
