# The lab's own platform, built here with MinGW-w64 and tested under Wine:
#
# make windows      - the program, the test suites and the stand-in tools for
#                     64-bit Windows in $(WIN_BUILD)/ (-Werror), the folder
#                     ready to run, its zip and the NSIS installer; prints both sizes
# make windows-test - the QtTest suites under Wine, through ctest
# make windows-e2e  - the real kestoide.exe under Wine in Xvfb, driven by key
#                     events; then the installer: install, start, uninstall
#
# Qt and QScintilla come from a prebuilt SDK (never built here): WIN_SDK_DIR
# holds kesto-win64-sdk.tar.xz, checked against WIN_SDK_SHA256 and unpacked
# once into WIN_SDK_CACHE. Host tools (moc, rcc, uic) are Debian's Qt.

WIN_BUILD ?= build-win
WIN_SDK_DIR ?= $(CURDIR)/../shared/win64
WIN_SDK_ARCHIVE = $(WIN_SDK_DIR)/kesto-win64-sdk.tar.xz
WIN_SDK_SHA256 ?= bc6aa8288c61231d86cbec5c67885f49a7f37ed3c5ba98b26a61015c227210bd
WIN_SDK_CACHE ?= $(or $(XDG_CACHE_HOME),$(HOME)/.cache)/kestoide/win64-sdk
# Debian's packages for the Windows targets only; `make test` needs none of them.
# librsvg2-bin draws the icon from its SVG, zip packs the folder.
WINDOWS_DEPS = g++-mingw-w64-x86-64-posix ninja-build wine wine64 nsis locales librsvg2-bin zip
KESTO_VERSION := $(shell sed -n 's/^project.kestoide VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

.PHONY: windows windows-deps windows-configure windows-build

windows-deps:
	@bash scripts/install-deps $(WINDOWS_DEPS)
	@bash scripts/windows/polish-locale.sh

# The SDK is looked up first: without it nothing is configured or built.
windows-configure: windows-deps
	@sdk=$$(bash scripts/windows/sdk.sh "$(WIN_SDK_ARCHIVE)" "$(WIN_SDK_SHA256)" "$(WIN_SDK_CACHE)") && \
	cmake -G Ninja -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
	    -DKESTO_WIN_SDK="$$sdk" -DCMAKE_PREFIX_PATH="$$sdk" -DCMAKE_BUILD_TYPE=Release \
	    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
	    -DKESTO_WERROR=ON -DKESTO_BENCH=OFF >/dev/null

windows-build: windows-configure
	@cmake --build $(WIN_BUILD) -j $(JOBS) --target kestoide

windows: windows-build
