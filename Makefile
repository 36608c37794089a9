# The two commands that set everything up on a fresh machine:
#   make demo   - build, create demo volumes and run the program on them
#   make test   - build and run every test
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test demo bench sanitize format clean

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	bash scripts/demo.sh $(BUILD)

# Benchmarks print their figures beside a reference measured in the same run.
bench: build
	$(BUILD)/bench/bench_ntfs_decode
	$(BUILD)/bench/bench_fat_scan
	$(BUILD)/bench/bench_ntfs_scan

# The engine test programs (not the Qt ones) built with AddressSanitizer and
# UndefinedBehaviorSanitizer in their own build folder, and run.
SAN_BUILD ?= build-san
SAN_TESTS = test_runtime test_platform test_drivers_fat test_drivers_ntfs test_volume \
	test_ntfs test_fat test_map
sanitize: deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
	cmake --build $(SAN_BUILD) -j $(JOBS) --target $(SAN_TESTS)
	mkdir -p $(SAN_BUILD)/test-tmp
	printf '%s\n' $(SAN_TESTS) | xargs -P $(JOBS) -I{} env \
		VODURU_TEST_TMP=$(CURDIR)/$(SAN_BUILD)/test-tmp VODURU_SOURCE=$(CURDIR) \
		$(SAN_BUILD)/tests/{} --gtest_brief=1

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
