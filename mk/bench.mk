# make bench - build, then print the benchmark tables (not part of make test):
#   the in-process figures (bench/kestobench), then the real window beside
#   SciTE (bench/realwindow), both under Xvfb. BENCH_RUNS sets the rounds of
#   the real-window part (fresh processes each; medians are printed).
BENCH_DEPS := scite libxtst-dev
BENCH_RUNS ?= 3
BENCH_XVFB = xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp"

.PHONY: bench bench-window

bench: bench-window-deps build
	$(BENCH_XVFB) ./$(BUILD)/bench/kestobench
	$(BENCH_XVFB) ./$(BUILD)/bench/realwindow $(BUILD)/ide/kestoide --runs $(BENCH_RUNS)

# Only the real-window table.
bench-window: bench-window-deps build
	$(BENCH_XVFB) ./$(BUILD)/bench/realwindow $(BUILD)/ide/kestoide --runs $(BENCH_RUNS)

.PHONY: bench-window-deps
bench-window-deps:
	@bash scripts/install-deps $(BENCH_DEPS)
