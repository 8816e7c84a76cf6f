# make tsan - the whole suite under ThreadSanitizer, in a build folder of its
#             own (build-tsan/). Debian's Qt is not built for TSan, so Qt's own
#             locking is invisible to it: mk/tsan.supp silences Qt internals
#             only; the program's threads hand work over with standard-library
#             synchronisation, which TSan sees.

TSAN_BUILD ?= build-tsan
TSAN_FLAGS := -fsanitize=thread -fno-omit-frame-pointer

.PHONY: tsan

# Any report fails the test that caused it. The cases run as nobody read the
# suppressions too: a copy in /tmp, as the checkout may lie in a folder only
# its owner enters (mktemp -d makes such a one).
tsan: deps
	@cmake -S . -B $(TSAN_BUILD) -DKESTO_WERROR=$(WERROR) -DKESTO_BENCH=OFF \
	    "-DCMAKE_CXX_FLAGS=$(TSAN_FLAGS)" "-DCMAKE_EXE_LINKER_FLAGS=$(TSAN_FLAGS)" >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS)
	supp=$$(mktemp /tmp/kestoide-tsan-XXXXXX.supp) && cp mk/tsan.supp "$$supp" && chmod 644 "$$supp" && \
	    status=0 && (cd $(TSAN_BUILD) && \
	    TSAN_OPTIONS="suppressions=$$supp halt_on_error=1 second_deadlock_stack=1 die_after_fork=0" \
	    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -LE e2e) || status=$$?; \
	    rm -f "$$supp"; exit $$status

CI_CHECKS += tsan
