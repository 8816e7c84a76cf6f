# make bench - build, then print the benchmark table (not part of make test).
.PHONY: bench
bench: build
	xvfb-run -a -s "-screen 0 1280x1024x24" ./$(BUILD)/bench/kestobench
