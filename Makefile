# The two quick-start commands and a few conveniences. Everything builds with
# CMake; these targets only chain bootstrap, configure, build and run.
BUILD ?= build
SAN_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: demo test build configure bootstrap sanitize bench clean

bootstrap:
	@bash scripts/bootstrap.sh

configure: bootstrap
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

# Everything: library, command, tests and benchmarks.
build: configure
	cmake --build $(BUILD) -j $(JOBS) --target all kmztile_benchmarks

# The main job on the bundled sample: builds only the command.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target kmztile_cli
	$(BUILD)/tools/kmztile demo out/demo

# Every test (the default build target holds the tests, not the benchmarks).
test: configure
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: bootstrap
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKMZTILE_SANITIZE=ON -DKMZTILE_BUILD_BENCH=OFF
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

bench: configure
	cmake --build $(BUILD) -j $(JOBS) --target kmztile_benchmarks
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD) $(SAN_BUILD) out
