# Hardening checks (included by the top Makefile):
#   make test SANITIZE=1   the whole suite under AddressSanitizer + UBSan (build-sanitize/)
#   make sanitize          the same
#   make fuzz              each libFuzzer target for FUZZ_SECONDS (Clang, build-fuzz/)
#   make lint              clang-tidy and cppcheck on ide/
#   make format            clang-format ide/, tests/ and bench/ in place; make format-check only checks

FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := fuzz_codec fuzz_positions fuzz_loadsave fuzz_split fuzz_recovery
CLANG_VERSION ?= 14
CLANG_PACKAGES := clang-$(CLANG_VERSION) libclang-rt-$(CLANG_VERSION)-dev
LINT_PACKAGES := clang-tidy-$(CLANG_VERSION) cppcheck
FORMAT_PACKAGES := clang-format-$(CLANG_VERSION)
# From git, so that a new folder cannot drop out of the checks.
LINT_SOURCES = $(shell git ls-files 'ide/*.cpp')
FORMAT_SOURCES = $(shell git ls-files 'ide/*.cpp' 'ide/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h')

ifeq ($(SANITIZE),1)
# Any report fails the test that caused it; leaks are checked too (the suite
# runs leak-free on the offscreen platform, so no suppressions are needed).
export ASAN_OPTIONS ?= detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1
endif

.PHONY: sanitize fuzz fuzz-build lint lint-tidy lint-cppcheck format format-check

sanitize:
	@$(MAKE) --no-print-directory test SANITIZE=1

fuzz-build:
	@bash scripts/install-deps $(CLANG_PACKAGES)
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++-$(CLANG_VERSION) -DKESTO_FUZZ=ON \
	    -DKESTO_BENCH=OFF -DKESTO_WERROR=$(WERROR) >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)

# Each target starts from the checked-in seeds and keeps what it finds in
# $(FUZZ_BUILD)/corpus/<target>; a crash leaves its input in $(FUZZ_BUILD)/.
fuzz: fuzz-build
	@set -e; for t in $(FUZZ_TARGETS); do \
	    mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	    echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	    ./$(FUZZ_BUILD)/tests/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	        -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/$$t- \
	        $(FUZZ_BUILD)/corpus/$$t tests/fuzz/corpus 2>$(FUZZ_BUILD)/$$t.log \
	        || { tail -n 60 $(FUZZ_BUILD)/$$t.log; exit 1; }; \
	    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' \
	        $(FUZZ_BUILD)/$$t.log | sed "s/^/fuzz: $$t /"; \
	done

lint: lint-tidy lint-cppcheck

# clang-tidy reads the compile commands of the normal build.
lint-tidy: configure
	@bash scripts/install-deps $(LINT_PACKAGES)
	@rc=0; run-clang-tidy-$(CLANG_VERSION) -p $(BUILD) -quiet -j $(JOBS) \
	    $(addprefix $(CURDIR)/,$(LINT_SOURCES)) >$(BUILD)/clang-tidy.log 2>&1 || rc=1; \
	    if grep -qE '(warning|error):' $(BUILD)/clang-tidy.log; then rc=1; \
	        grep -E -A3 '(warning|error):' $(BUILD)/clang-tidy.log | head -n 200; fi; \
	    [ $$rc -eq 0 ] && echo "clang-tidy: $(words $(LINT_SOURCES)) files clean"; exit $$rc

# unusedFunction is left out: slots and overrides are called by Qt and the tests.
lint-cppcheck:
	@bash scripts/install-deps $(LINT_PACKAGES)
	@cppcheck --enable=warning,style,performance,portability --std=c++20 --library=qt \
	    --inline-suppr --error-exitcode=1 --quiet -I ide --suppress=missingIncludeSystem ide

format:
	@bash scripts/install-deps $(FORMAT_PACKAGES)
	@clang-format-$(CLANG_VERSION) -i $(FORMAT_SOURCES)

format-check:
	@bash scripts/install-deps $(FORMAT_PACKAGES)
	@clang-format-$(CLANG_VERSION) --dry-run --Werror $(FORMAT_SOURCES)

CI_CHECKS += sanitize fuzz lint format-check
