# The lab's own platform, built here with MinGW-w64 and tested under Wine:
#
# make windows      - the program, the test suites and the stand-in tools for
#                     64-bit Windows in $(WIN_BUILD)/ (-Werror), the folder
#                     ready to run, its zip and the NSIS installer; prints both sizes
# make windows-test - the QtTest suites under Wine, through ctest
# make windows-e2e  - the real kestoide.exe under Wine in Xvfb, driven by key
#                     events; its tools' consoles under openbox; then the
#                     installer with the options for a room: install,
#                     start, uninstall
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
# fonts-wine brings the fonts a Windows program expects (Tahoma, Fixedsys);
# librsvg2-bin draws the icon from its SVG, zip packs the folder.
WINDOWS_DEPS = g++-mingw-w64-x86-64-posix ninja-build wine wine64 fonts-wine nsis locales librsvg2-bin zip
# Wine prefixes of their own, inside the build folder.
WIN_TEST_PREFIX = $(WIN_BUILD)/wine-test
KESTO_VERSION := $(shell sed -n 's/^project.kestoide VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

.PHONY: windows windows-deps windows-configure windows-build windows-test windows-e2e

windows-deps:
	@bash scripts/install-deps $(WINDOWS_DEPS)
	@bash scripts/windows/polish-locale.sh

# The SDK is looked up first: without it nothing is configured or built.
windows-configure: windows-deps
	@sdk=$$(bash scripts/windows/sdk.sh "$(WIN_SDK_ARCHIVE)" "$(WIN_SDK_SHA256)" "$(WIN_SDK_CACHE)") && \
	cmake -G Ninja -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
	    -DKESTO_WIN_SDK="$$sdk" -DCMAKE_PREFIX_PATH="$$sdk" -DCMAKE_BUILD_TYPE=Release \
	    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
	    -DKESTO_WERROR=ON -DKESTO_BENCH=OFF \
	    "-DCMAKE_CROSSCOMPILING_EMULATOR=$(CURDIR)/scripts/windows/wine-run;$(abspath $(WIN_TEST_PREFIX));$$sdk" \
	    >/dev/null

windows-build: windows-configure
	@cmake --build $(WIN_BUILD) -j $(JOBS)

# The folder ready to run, its zip and the installer, remade when what they
# hold changes; each size is printed and held to its limit.
WIN_NAME = kestoide-$(KESTO_VERSION)-win64
WIN_FOLDER = $(WIN_BUILD)/$(WIN_NAME)
WIN_ZIP = $(WIN_BUILD)/$(WIN_NAME).zip
WIN_SETUP = $(WIN_BUILD)/kestoide-$(KESTO_VERSION)-setup.exe
WIN_ZIP_LIMIT = 25000000
WIN_SETUP_LIMIT = 20000000
WIN_PACKAGE_INPUTS = $(WIN_BUILD)/ide/kestoide.exe $(WIN_BUILD)/ide/kestoide-run.exe $(WIN_BUILD)/kestoide.ico \
    LICENSE scripts/windows/deploy.sh scripts/windows/installer.sh $(wildcard packaging/windows/*)

.PHONY: windows-package

# The package's inputs are only known once the build has run.
windows: windows-build
	@$(MAKE) --no-print-directory windows-package

$(WIN_SETUP): $(WIN_PACKAGE_INPUTS)
	@bash scripts/windows/deploy.sh $(WIN_BUILD) $(WIN_FOLDER) $(KESTO_VERSION)
	@rm -f $(WIN_ZIP) && cd $(WIN_BUILD) && zip -q -r -9 -X $(WIN_NAME).zip $(WIN_NAME)
	@bash scripts/windows/installer.sh $(WIN_FOLDER) $(WIN_BUILD)/kestoide.ico $@ $(KESTO_VERSION)

windows-package: $(WIN_SETUP)
	@set -e; for f in "$(WIN_ZIP) $(WIN_ZIP_LIMIT)" "$(WIN_SETUP) $(WIN_SETUP_LIMIT)"; do \
	    set -- $$f; size=$$(stat -c %s "$$1"); \
	    awk -v f="$$1" -v s="$$size" -v l="$$2" \
	        'BEGIN { printf "windows: %s: %d bytes (%.1f MB; at most %d MB)\n", f, s, s / 1e6, l / 1e6 }'; \
	    [ "$$size" -le "$$2" ] || { echo "windows: $$1 is too large" >&2; exit 1; }; \
	done

windows-test: windows-build
	@bash scripts/windows/run-tests.sh $(WIN_BUILD) $(WIN_TEST_PREFIX) $(JOBS)

# pytest (tests/e2e/test_windows*.py, E2E_PYTEST of mk/e2e.mk): screenshots
# and the stand-in tools' log go to $(WIN_BUILD)/e2e/; the tools' consoles are
# checked under a window manager (openbox); the installer in a prefix of its own.
windows-e2e: windows
	@bash scripts/install-deps openbox xclip $(E2E_PYTHON_DEPS)
	$(E2E_PYTEST) tests/e2e/test_windows.py tests/e2e/test_windows_consoles.py tests/e2e/test_windows_setup.py \
	    --program $(WIN_BUILD) --out $(WIN_BUILD)/e2e
