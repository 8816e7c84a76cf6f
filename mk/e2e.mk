# make e2e      - the program in a real X server (Xvfb), driven by key events;
#                 screenshots and the accessibility tree go to $(BUILD)/e2e/;
#                 then the tools' terminals under a window manager (openbox),
#                 with a Windows stand-in under Wine where Wine is installed
# make install  - install the program, its desktop entry, icon, AppStream data
#                 and the *.asm file type under PREFIX (default /usr/local);
#                 DESTDIR is honoured
# make package  - the Debian package $(BUILD)/kestoide_*.deb, checked and started;
#                 a `make install` tree is checked beside it
# make screenshot - refresh docs/kestoide.png from the last e2e run

PREFIX ?= /usr/local
E2E_OUT = $(BUILD)/e2e
# The screen-reader checks talk to the program over AT-SPI on a private bus.
# as31 is a real 8051 assembler for the tools' checks; Wine, MinGW and the
# Polish locale run a Windows tool in them, as the lab's are.
E2E_DEPS = at-spi2-core dbus-daemon libglib2.0-bin openbox as31 \
    wine wine64 g++-mingw-w64-x86-64-posix locales
# dpkg-shlibdeps finds the libraries the package depends on; the validators
# check its desktop entry and AppStream data; gio tells the type of a file
# from the MIME database that shared-mime-info builds.
PACKAGE_DEPS = dpkg-dev desktop-file-utils appstream shared-mime-info libglib2.0-bin
INSTALL_CHECK = $(BUILD)/install-check

CI_CHECKS += e2e package

.PHONY: e2e install package screenshot

e2e: build
	@bash scripts/install-deps $(E2E_DEPS)
	@bash scripts/windows/polish-locale.sh
	bash scripts/e2e.sh $(BUILD)/ide/kestoide $(E2E_OUT)
	bash scripts/e2e/terminal.sh $(BUILD)/ide/kestoide $(E2E_OUT)
	bash scripts/e2e/assembler.sh $(BUILD)/ide/kestoide $(E2E_OUT)

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
	bash scripts/e2e/check-package.sh $(BUILD)/kestoide_*.deb $(INSTALL_CHECK) $(E2E_OUT)/package

screenshot:
	cp $(E2E_OUT)/04-compiler-menu.png docs/kestoide.png
