# The two set-up commands: `make run` and `make test`. Both install what is missing first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@if [ ! -f $(BUILD_DIR)/build.ninja ]; then \
	  cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE); \
	fi

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/varnix

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: deps
	@if [ ! -f $(BUILD_DIR)-bench/build.ninja ]; then \
	  cmake -S . -B $(BUILD_DIR)-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNIX_BUILD_BENCH=ON -DVARNIX_BUILD_TESTS=OFF; \
	fi
	@cmake --build $(BUILD_DIR)-bench -j $(JOBS)
	@bash bench/run.sh $(BUILD_DIR)-bench

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-bench
