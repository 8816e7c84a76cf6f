# make run  - install what is missing, build, start the IDE
# make test - install what is missing, build, run every test (offscreen)

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

.PHONY: all deps configure build run test clean ci-checks

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/ide/kestoide

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf build build-*

-include mk/*.mk

ci-checks: $(CI_CHECKS)
