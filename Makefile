# Tastvolk Lesemund: set-up, build, run, test.
BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= $(HOME)/.local

.PHONY: deps configure build run test bench clean install uninstall

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Started in its own folder, so that its file list shows the documents there.
run: build
	cd $(BUILD)/bin && ./tastvolk-lesemund

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 240

bench: build
	@bash bench/run-all $(BUILD)

install: build
	@bash scripts/install-user install $(BUILD) $(PREFIX)

uninstall:
	@bash scripts/install-user uninstall $(PREFIX)

clean:
	rm -rf $(BUILD)
