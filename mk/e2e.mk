# make e2e      - the program in a real X server (Xvfb), driven by key events;
#                 screenshots and the accessibility tree go to $(BUILD)/e2e/
# make install  - install the program, its desktop entry, icon and AppStream
#                 data under PREFIX (default /usr/local); DESTDIR is honoured
# make package  - the Debian package $(BUILD)/kestoide_*.deb, checked and started
# make screenshot - refresh docs/kestoide.png from the last e2e run

PREFIX ?= /usr/local
E2E_OUT = $(BUILD)/e2e
# The screen-reader checks talk to the program over AT-SPI on a private bus.
E2E_DEPS = at-spi2-core dbus-daemon libglib2.0-bin
# dpkg-shlibdeps finds the libraries the package depends on; the validators
# check its desktop entry and AppStream data.
PACKAGE_DEPS = dpkg-dev desktop-file-utils appstream

CI_CHECKS += e2e package

.PHONY: e2e install package screenshot

e2e: build
	@bash scripts/install-deps $(E2E_DEPS)
	bash scripts/e2e.sh $(BUILD)/ide/kestoide $(E2E_OUT)

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --component kestoide --prefix "$(PREFIX)" --strip

package: build
	@bash scripts/install-deps $(PACKAGE_DEPS)
	@cmake -S . -B $(BUILD) >/dev/null
	rm -f $(BUILD)/kestoide_*.deb
	cd $(BUILD) && cpack -G DEB
	bash scripts/e2e/check-package.sh $(BUILD)/kestoide_*.deb $(E2E_OUT)/package

screenshot:
	cp $(E2E_OUT)/04-compiler-menu.png docs/kestoide.png
