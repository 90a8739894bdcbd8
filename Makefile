# The two commands people need: `make run` and `make test`.
# Everything else (packages, configure, build) happens on the way.
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: run test test-asan test-tsan build setup clean bench soak fuzz

run: build
	@scripts/run.sh $(BUILD)

# The tray program on this display, serving the project's www/ (it finds cfg/
# and www/ above build/bin).
run-gui: build
	@$(BUILD)/bin/zorvane_gui

test: build
	@scripts/test.sh $(BUILD) $(JOBS)

# The suite under sanitizers, each in a build folder of its own.
test-asan: setup
	@scripts/sanitize.sh asan $(JOBS)

test-tsan: setup
	@scripts/sanitize.sh tsan $(JOBS)

build: setup
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

setup:
	@scripts/setup.sh

clean:
	rm -rf $(BUILD)

# Not part of the tests: measurements and long runs (see bench/ and fuzz/).
bench: setup
	@bench/run.sh

soak: setup
	@tests/soak/run.sh

fuzz: setup
	@fuzz/run.sh
