# make bench        - build, then print the benchmark tables (not part of make test):
#                     the in-process figures (bench/kestobench), then the real window
#                     beside SciTE (bench/realwindow), then Run after a compile through
#                     the tools' terminals (bench/toolrun), all under Xvfb
# make bench-tools  - only the tools' table
# make bench-window - only the real-window table
# make bench-compare BASE=<commit> - Open of 50 MB and its peak memory, the
#                     program at BASE against this tree's, in one run
#                     (scripts/bench-compare.sh; BENCH_RUNS rounds)
# BENCH_RUNS sets the rounds of the real-window part (fresh processes each time;
# the table shows medians, and the lowest and highest value of each figure).
# On a machine that other work shares, BENCH_NICE=-20 (as root) runs the X
# server and every measured program ahead of that work.
BENCH_DEPS := scite libxtst-dev
BENCH_RUNS ?= 3
BENCH_NICE ?=
BENCH_XVFB = $(if $(BENCH_NICE),nice -n $(BENCH_NICE) )xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp"
BENCH_WINDOW = $(BENCH_XVFB) ./$(BUILD)/bench/realwindow $(BUILD)/ide/kestoide --runs $(BENCH_RUNS)
BENCH_TOOLS = $(BENCH_XVFB) ./$(BUILD)/bench/toolrun $(BUILD)/ide/kestoide --runs $$(( $(BENCH_RUNS) + 2 ))

.PHONY: bench bench-window bench-tools bench-deps bench-build bench-compare

# The benchmarks are left out of `make run` and `make test`.
bench-build: configure
	@cmake --build $(BUILD) -j $(JOBS) --target kestoide kestoide-run benchmarks

# SciTE and the XTEST headers come first: bench/realwindow is built only where
# the headers are.
bench-deps:
	@bash scripts/install-deps $(BENCH_DEPS)

bench: bench-deps
	@$(MAKE) --no-print-directory bench-build
	$(BENCH_XVFB) ./$(BUILD)/bench/kestobench
	$(BENCH_WINDOW)
	$(BENCH_TOOLS)

bench-window: bench-deps
	@$(MAKE) --no-print-directory bench-build
	$(BENCH_WINDOW)

bench-tools: bench-deps
	@$(MAKE) --no-print-directory bench-build
	$(BENCH_TOOLS)

bench-compare: bench-deps
	@$(MAKE) --no-print-directory bench-build
	JOBS=$(JOBS) NICE=$(BENCH_NICE) bash scripts/bench-compare.sh $(BASE) $(BENCH_RUNS)
