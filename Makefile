# make run  - install what is missing, build the program, start the IDE
# make test - install what is missing, build the program and the tests, run every test (offscreen)

BUILD ?= build
SANITIZE ?=
ifeq ($(SANITIZE),1)
  BUILD := build-sanitize
endif
# CI treats compiler warnings as errors.
WERROR ?= $(if $(CI),ON,OFF)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

CMAKE_FLAGS = -DKESTO_WERROR=$(WERROR) $(if $(filter 1,$(SANITIZE)),-DKESTO_SANITIZE=ON,)

# Checks that .ci/run adds after `make test`; each mk/*.mk appends its own.
CI_CHECKS :=

.PHONY: all deps configure build program run test clean ci-checks ci-checks-list

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

# Everything but the benchmarks, which `make bench` builds.
build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The program and the helper it starts the tools with, nothing else.
program: configure
	@cmake --build $(BUILD) -j $(JOBS) --target kestoide kestoide-run

run: program
	./$(BUILD)/ide/kestoide

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -LE e2e

clean:
	rm -rf build build-*

-include mk/*.mk

ci-checks: $(CI_CHECKS)

# The checks one per line, for CI to time each.
ci-checks-list:
	@printf '%s\n' $(CI_CHECKS)
