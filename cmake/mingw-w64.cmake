# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (GCC, POSIX
# threads, SEH). KESTO_WIN_SDK names the unpacked Qt + QScintilla SDK
# (mk/windows.mk unpacks it); libraries and headers are looked up there and in
# the compiler's own root, host programs (moc, rcc, uic, wine) on this system.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTO_MINGW}-windres)

# try_compile() reads this file again in a project of its own: hand the SDK on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTO_WIN_SDK)
if(NOT KESTO_WIN_SDK AND DEFINED ENV{KESTO_WIN_SDK})
  set(KESTO_WIN_SDK "$ENV{KESTO_WIN_SDK}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${KESTO_MINGW} ${KESTO_WIN_SDK})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
