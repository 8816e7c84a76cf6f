# make e2e      - the program in a real X server (Xvfb), driven by key events;
#                 screenshots and the accessibility tree go to $(BUILD)/e2e/;
#                 then the tools' terminals under a window manager (openbox),
#                 with a Windows stand-in under Wine where Wine is installed,
#                 and the real as31 assembler (pytest: tests/e2e/)
# make install  - install the program, its desktop entry, icon, AppStream data
#                 and the *.asm file type under PREFIX (default /usr/local);
#                 DESTDIR is honoured
# make package  - the Debian package $(BUILD)/kestoide_*.deb, checked and started;
#                 a `make install` tree is checked beside it (tests/e2e/test_package.py)
# make screenshot - refresh docs/kestoide.png from the last e2e run

PREFIX ?= /usr/local
E2E_OUT = $(BUILD)/e2e
# The end-to-end tests are pytest's, with Debian's Python and its packages
# (python3 on PATH may be another Python): X through python-xlib, the
# screen reader's view through pyatspi. -B and no cache: nothing is written
# into the checkout.
E2E_PYTHON_DEPS = python3-pytest python3-pyatspi python3-xlib
E2E_PYTEST = /usr/bin/python3 -B -m pytest -p no:cacheprovider -v
# The screen-reader checks talk to the program over AT-SPI on a private bus.
# as31 is a real 8051 assembler for the tools' checks; Wine, MinGW and the
# Polish locale run a Windows tool in them, as the lab's are.
E2E_DEPS = $(E2E_PYTHON_DEPS) at-spi2-core dbus-daemon libglib2.0-bin openbox as31 \
    wine wine64 g++-mingw-w64-x86-64-posix locales
# dpkg-shlibdeps finds the libraries the package depends on; the validators
# check its desktop entry and AppStream data; gio tells the type of a file
# from the MIME database that shared-mime-info builds.
PACKAGE_DEPS = $(E2E_PYTHON_DEPS) dpkg-dev desktop-file-utils appstream shared-mime-info libglib2.0-bin
INSTALL_CHECK = $(BUILD)/install-check

CI_CHECKS += e2e package

.PHONY: e2e install package screenshot

e2e: build
	@bash scripts/install-deps $(E2E_DEPS)
	@bash scripts/windows/polish-locale.sh
	$(E2E_PYTEST) tests/e2e/test_main.py tests/e2e/test_terminals.py tests/e2e/test_assembler.py \
	    --program $(BUILD)/ide/kestoide --out $(E2E_OUT)

# The file type and the desktop entry's MimeType= count only once the
# databases are rebuilt, which the package leaves to the dpkg triggers.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --component kestoide --prefix "$(PREFIX)" --strip
	@if command -v update-mime-database >/dev/null; then \
	    update-mime-database "$(DESTDIR)$(PREFIX)/share/mime"; fi
	@if command -v update-desktop-database >/dev/null; then \
	    update-desktop-database -q "$(DESTDIR)$(PREFIX)/share/applications"; fi

package: build
	@bash scripts/install-deps $(PACKAGE_DEPS)
	@cmake -S . -B $(BUILD) >/dev/null
	rm -f $(BUILD)/kestoide_*.deb
	cd $(BUILD) && cpack -G DEB
	rm -rf $(INSTALL_CHECK)
	@$(MAKE) --no-print-directory install DESTDIR=$(abspath $(INSTALL_CHECK)) PREFIX=/usr >/dev/null
	$(E2E_PYTEST) tests/e2e/test_package.py --deb $(BUILD)/kestoide_*.deb --installed $(INSTALL_CHECK) \
	    --out $(E2E_OUT)/package

screenshot:
	cp $(E2E_OUT)/04-compiler-menu.png docs/kestoide.png
