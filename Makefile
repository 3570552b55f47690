# The two commands of the README, and a few more for developers.
#   make run    install what is missing, build, start the program
#   make test   install what is missing, build, run every test (under Xvfb when there is no display)

BUILD_DIR ?= build
BUILD_TYPE ?= Debug
FIRMWARE_SYX ?=
JOBS ?= $(shell nproc)

CMAKE_ARGS = -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DFIRMWARE_SYX="$(FIRMWARE_SYX)"

# Tests open windows: without a display they run inside a virtual X server. It must not reset when its
# last client leaves (-noreset): a test program that connects during the reset has its connection
# closed and dies of SIGPIPE, which happened to about one connection in sixteen made back to back.
ifeq ($(strip $(DISPLAY)),)
  WITH_DISPLAY = xvfb-run -a -s "-screen 0 1280x1024x24 -noreset"
else
  WITH_DISPLAY =
endif

# The build's facts (the program's name, its title, where to click), for the commands below.
FACTS = . "$(abspath $(BUILD_DIR))/cantora-facts.sh"

# Every date a build writes into what it makes (GCC's __DATE__ and __TIME__, the archives' and the
# installer's) is the last commit's, so that one commit builds the same files wherever it is built.
ifeq ($(origin SOURCE_DATE_EPOCH),undefined)
  SOURCE_DATE_EPOCH := $(shell git log -1 --format=%ct 2> /dev/null)
endif
ifneq ($(SOURCE_DATE_EPOCH),)
  export SOURCE_DATE_EPOCH
endif

.PHONY: all deps configure build run test lint sanitize bench screenshot e2e fuzz windows package release \
        signing-check reproducible clean

all: build

deps:
	@tools/deps/deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_ARGS) > /dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@if [ -z "$(DISPLAY)$(WAYLAND_DISPLAY)" ]; then \
	    echo "No display to show the program on; 'make screenshot' starts it on a virtual one and takes pictures."; \
	else \
	    $(FACTS) && "$(BUILD_DIR)/app/$$CANTORA_PRODUCT_NAME"; \
	fi

screenshot: build
	@$(FACTS) && CANTORA_FACTS=$(BUILD_DIR)/cantora-facts.sh \
	    tools/screenshot/screenshot.sh "$(BUILD_DIR)/app/$$CANTORA_PRODUCT_NAME" $(BUILD_DIR)/screenshots
	@$(WITH_DISPLAY) $(BUILD_DIR)/bench/screen_states $(BUILD_DIR)/screenshots/screen-states.png

test: build
	@cd $(BUILD_DIR) && $(WITH_DISPLAY) ctest --output-on-failure -j $(JOBS)

# The C and C++ sources as the project's .clang-format lays them out, and every shell script as
# shellcheck sees it (warnings and errors).
lint:
	@tools/deps/deps.sh clang-format shellcheck
	@git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
	@shellcheck -x -S warning $$(git ls-files "*.sh") .ci/run
	@echo "lint: clean"

# The test suite twice more: with ThreadSanitizer, and with AddressSanitizer plus UndefinedBehaviorSanitizer.
# The second is built as a vendor build is, from an image given (the stand-in's bytes when no other),
# so that the suite also runs once on a build without the stand-in mark.
SANITIZE_CMAKE_ARGS = -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 -DFIRMWARE_SYX="$(FIRMWARE_SYX)"
export TSAN_OPTIONS = halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp
export ASAN_OPTIONS = halt_on_error=1 detect_stack_use_after_return=1
export UBSAN_OPTIONS = halt_on_error=1 print_stacktrace=1

ASAN_FIRMWARE_SYX = $(if $(FIRMWARE_SYX),$(FIRMWARE_SYX),$(CURDIR)/$(BUILD_DIR)/generated/cantora2-standin.syx)

sanitize: build
	@cmake -S . -B build-tsan $(SANITIZE_CMAKE_ARGS) -DCANTORA_SANITIZE=thread > /dev/null
	@cmake --build build-tsan -j $(JOBS)
	@cd build-tsan && $(WITH_DISPLAY) ctest --output-on-failure -j $(JOBS)
	@cmake -S . -B build-asan $(SANITIZE_CMAKE_ARGS) -DFIRMWARE_SYX="$(ASAN_FIRMWARE_SYX)" \
	    -DCANTORA_SANITIZE=address,undefined > /dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && $(WITH_DISPLAY) ctest --output-on-failure -j $(JOBS)

# Figures, not tests: optimised builds of the benchmarks, run once. The start-up figures compare the
# updater with a bare window program of the same framework build.
bench: deps
	@cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DFIRMWARE_SYX="$(FIRMWARE_SYX)" > /dev/null
	@cmake --build build-release -j $(JOBS) --target transfer_benchmark startup_benchmark BareWindow CantoraUpdater
	@$(WITH_DISPLAY) sh -c '. build-release/cantora-facts.sh && build-release/bench/transfer_benchmark && \
	    build-release/bench/startup_benchmark 5 "Bare JUCE window" "$$(ls build-release/bench/BareWindow_artefacts/Release/*)" \
	        "$$CANTORA_TITLE" "build-release/app/$$CANTORA_PRODUCT_NAME"'

# Proof of delivery on the real Linux MIDI stack, in a virtual machine (not part of make test).
e2e: deps
	@tools/e2e/e2e.sh

# The Windows program, cross-compiled, its resources checked, and it and its tests run under Wine.
windows:
	@tools/windows/windows.sh

# The Debian package of the Linux program, checked and tried in a throwaway root.
package:
	@tools/package/package.sh

# Every release file of this build kind (the stand-in's, or FIRMWARE_SYX's) in dist/ with SHA256SUMS:
# the files of make package and make windows, after all their checks. RELEASE_ARGS=--files-only makes
# the files without the checks.
release:
	@tools/release/release.sh $(RELEASE_ARGS)

# make release signed with keys made for the run alone, and the signatures checked, a changed byte
# included (what CI runs in place of an unsigned make release).
signing-check:
	@tools/release/check-signing.sh

# The release files built twice, from two clones of the last commit at different paths and times, and
# compared byte for byte.
reproducible:
	@tools/release/reproducible.sh

# A bounded libFuzzer run of the image checker and the splitter (not part of make test or CI), from the
# seed corpus in tools/fuzz/corpus; what it finds on the way is kept in build-fuzz/corpus.
FUZZ_SECONDS ?= 60
fuzz:
	@tools/deps/deps.sh clang-14 libclang-rt-14-dev
	@mkdir -p build-fuzz/corpus
	@clang++-14 -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
	    tools/fuzz/ImageFuzzer.cpp firmware/SysexFraming.cpp -o build-fuzz/image_fuzzer
	@build-fuzz/image_fuzzer -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=build-fuzz/ \
	    build-fuzz/corpus tools/fuzz/corpus

clean:
	@rm -rf $(BUILD_DIR) build-tsan build-asan build-release build-e2e build-fuzz build-windows build-package \
	    build-reproducible dist
