# What kestoide.exe carries as a Windows program besides its code (the GUI
# subsystem, an icon, version information, a manifest), and the stand-ins for
# the lab's tools that the Windows tests start. Included on Windows only.

enable_language(C RC)
set(KESTO_WINDOWS_DIR ${CMAKE_CURRENT_LIST_DIR}/../packaging/windows)

# No console window behind the editor; --help and --version write into the
# console the program was started from (ide/consoleio.cpp).
set_target_properties(kestoide PROPERTIES WIN32_EXECUTABLE ON)

# The icon, drawn from the SVG at the sizes Explorer and the taskbar ask for.
find_program(KESTO_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(KESTO_IMAGEMAGICK_CONVERT convert REQUIRED)
set(KESTO_ICON_SVG ${CMAKE_CURRENT_LIST_DIR}/../packaging/kestoide.svg)
set(KESTO_ICON ${CMAKE_BINARY_DIR}/kestoide.ico)
set(icon_pngs)
set(icon_commands)
foreach(size 16 20 24 32 40 48 64 256)
  set(png ${CMAKE_BINARY_DIR}/icon/kestoide-${size}.png)
  list(APPEND icon_pngs ${png})
  list(APPEND icon_commands COMMAND ${KESTO_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${KESTO_ICON_SVG})
endforeach()
add_custom_command(OUTPUT ${KESTO_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icon
  ${icon_commands}
  COMMAND ${KESTO_IMAGEMAGICK_CONVERT} ${icon_pngs} ${KESTO_ICON}
  DEPENDS ${KESTO_ICON_SVG}
  COMMENT "Drawing kestoide.ico")
add_custom_target(kestoide_icon DEPENDS ${KESTO_ICON})
add_dependencies(kestoide kestoide_icon)

string(REPLACE "." "," KESTO_VERSION_COMMAS "${PROJECT_VERSION}.0")
set(KESTO_VERSION4 "${PROJECT_VERSION}.0")
set(KESTO_MANIFEST ${CMAKE_BINARY_DIR}/kestoide.manifest)
configure_file(${KESTO_WINDOWS_DIR}/kestoide.manifest ${KESTO_MANIFEST} @ONLY)
configure_file(${KESTO_WINDOWS_DIR}/kestoide.rc.in ${CMAKE_BINARY_DIR}/kestoide.rc @ONLY)
target_sources(kestoide PRIVATE ${CMAKE_BINARY_DIR}/kestoide.rc)
set_source_files_properties(${CMAKE_BINARY_DIR}/kestoide.rc TARGET_DIRECTORY kestoide PROPERTIES
  OBJECT_DEPENDS "${KESTO_ICON};${KESTO_MANIFEST}")

if(BUILD_TESTING)
  # The stand-in tools: an ANSI program, as the lab's tools are, and a
  # Unicode one. KESTO_STANDIN_DIR tells the tests where they are.
  foreach(kind ansi unicode)
    add_executable(standin-${kind} ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/standin.c)
    set_target_properties(standin-${kind} PROPERTIES C_STANDARD 11 RUNTIME_OUTPUT_DIRECTORY
                          ${CMAKE_BINARY_DIR}/standin)
  endforeach()
  target_compile_definitions(standin-unicode PRIVATE KESTO_UNICODE UNICODE _UNICODE)
  target_link_options(standin-unicode PRIVATE -municode)
endif()
