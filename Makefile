# The two commands that set everything up on a fresh machine:
#   make demo   - build, create demo volumes and run the program on them
#   make test   - build and run every test
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test demo bench damage format clean

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

# The damaged-volume campaign (not run by CI): 2000 damaged images, every
# view on each, at low priority.
damage: build
	nice -n 10 $(BUILD)/damage/damage_campaign 2000

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
