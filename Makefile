# The two commands of the README, and a few more for developers.
#   make run    install what is missing, build, start the program
#   make test   install what is missing, build, run every test (under Xvfb when there is no display)

BUILD_DIR ?= build
BUILD_TYPE ?= Debug
FIRMWARE_SYX ?=
JOBS ?= $(shell nproc)

CMAKE_ARGS = -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DFIRMWARE_SYX="$(FIRMWARE_SYX)"

# Tests open windows: without a display they run inside a virtual X server.
ifeq ($(strip $(DISPLAY)),)
  WITH_DISPLAY = xvfb-run -a -s "-screen 0 1280x1024x24"
else
  WITH_DISPLAY =
endif

.PHONY: all deps configure build run test clean

all: build

deps:
	@tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_ARGS) > /dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@echo "The application is not there yet: this build has the library, the host tools and the tests."

test: build
	@cd $(BUILD_DIR) && $(WITH_DISPLAY) ctest --output-on-failure -j $(JOBS)

clean:
	@rm -rf $(BUILD_DIR)
