# The two commands that set everything up on a fresh machine:
#   make demo   - build the program, create demo volumes and run it on them
#   make test   - build everything and run every test
#   make install - put voduru and its help pages under PREFIX (/usr/local)
BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

.PHONY: all deps configure build test demo bench install damage sanitize format clean

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Only what the demo runs: the program and the two volume builders.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target voduru make_fat_volume make_ntfs_volume
	bash scripts/demo.sh $(BUILD)

install: configure
	cmake --build $(BUILD) -j $(JOBS) --target voduru
	cmake --install $(BUILD) --prefix $(PREFIX)

# Benchmarks print their figures beside a reference measured in the same run.
bench: build
	$(BUILD)/bench/bench_ntfs_decode
	$(BUILD)/bench/bench_fat_scan
	$(BUILD)/bench/bench_ntfs_scan
	$(BUILD)/bench/bench_tools
	$(BUILD)/bench/bench_startup
	$(BUILD)/bench/bench_optimise

# The damaged-volume campaign (not run by CI): 2000 damaged images, every
# view on each, at low priority.
damage: build
	nice -n 10 $(BUILD)/damage/damage_campaign 2000

# The engine test programs (every test program that links no Qt) built with
# AddressSanitizer and UndefinedBehaviorSanitizer in their own build folder,
# sharing nothing with $(BUILD), and run; CI runs this after `make test`.
# -O1 -g1 compiles in about 55% of the CPU time of -O2 -g and still gives every report
# its source lines. GCC's maybe-uninitialized analysis gives false alarms
# inside libstdc++'s regex under the sanitizers, so that one warning is off in
# this build only. New test programs join through tests/CMakeLists.txt.
SAN_BUILD ?= build-san
SAN_FLAGS = -fsanitize=address,undefined -fno-omit-frame-pointer \
	-fno-sanitize-recover=undefined -Wno-maybe-uninitialized
sanitize: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS="$(SAN_FLAGS)" \
		-DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST
	cmake --build $(SAN_BUILD) -j $(JOBS) --target engine_tests
	bash scripts/run_engine_tests.sh $(SAN_BUILD) $(JOBS)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
