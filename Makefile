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

# The engine test programs (not the Qt ones) built with AddressSanitizer and
# UndefinedBehaviorSanitizer in their own build folder, and run. GCC's
# maybe-uninitialized analysis gives false alarms inside libstdc++'s regex
# under the sanitizers, so that one warning is off in this build only. The
# program answers a failed large allocation with "Out of memory", so the
# allocator returns null instead of aborting.
SAN_BUILD ?= build-san
SAN_TESTS = test_runtime test_platform test_drivers_fat test_drivers_ntfs test_volume \
	test_alloc test_ntfs test_fat test_map test_tools test_viewer
sanitize: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined -Wno-maybe-uninitialized"
	cmake --build $(SAN_BUILD) -j $(JOBS) --target $(SAN_TESTS)
	mkdir -p $(SAN_BUILD)/test-tmp
	printf '%s\n' $(SAN_TESTS) | xargs -P $(JOBS) -I{} env ASAN_OPTIONS=allocator_may_return_null=1 \
		VODURU_TEST_TMP=$(CURDIR)/$(SAN_BUILD)/test-tmp VODURU_SOURCE=$(CURDIR) \
		$(SAN_BUILD)/tests/{} --gtest_brief=1

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
