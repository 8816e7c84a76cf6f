# Run at install time (cmake_install.cmake): writes the desktop entry so that
# it names the installed program by its full path. A double-click then works
# for any prefix, also one not on PATH (make install PREFIX=~/.local); in
# /usr/bin, where the Debian package puts it, the plain name stays, as
# desktops expect of a packaged program.
#
# Set before: KESTO_DESKTOP_SOURCE (the entry in packaging/), KESTO_BINDIR and
# KESTO_DATADIR (relative to the prefix, or absolute).

foreach(dir KESTO_BINDIR KESTO_DATADIR)
  if(IS_ABSOLUTE "${${dir}}")
    set(${dir}_FULL "${${dir}}")
  else()
    set(${dir}_FULL "${CMAKE_INSTALL_PREFIX}/${${dir}}")
  endif()
endforeach()

file(READ "${KESTO_DESKTOP_SOURCE}" entry)
set(program "${KESTO_BINDIR_FULL}/kestoide")
if(NOT KESTO_BINDIR_FULL STREQUAL "/usr/bin")
  # The Exec key's rules: a path with reserved characters is quoted, and
  # inside the quotes " ` $ \ take a backslash; the key's value then doubles
  # every backslash, and a field code's % is written %%.
  string(REPLACE "%" "%%" exec "${program}")
  if(exec MATCHES "[] \t\"'\\\\><~|&;$*?#()`[]")
    string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" exec "${exec}")
    string(REPLACE "\\" "\\\\" exec "${exec}")
    set(exec "\"${exec}\"")
  endif()
  string(REPLACE "\nExec=kestoide " "\nExec=${exec} " entry "${entry}")
endif()
set(target "$ENV{DESTDIR}${KESTO_DATADIR_FULL}/applications/kestoide.desktop")
message(STATUS "Installing: ${target}")
file(WRITE "${target}" "${entry}")
