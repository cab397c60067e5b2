# The two commands of the README: `make test` and `make run`. Both do all
# set-up on a fresh machine (packages, FFmpeg 7.1, configure, build).
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)
FFMPEG_PREFIX_FILE = $(BUILD)/.ffmpeg-prefix

.PHONY: all setup configure build test run sanitize bench fuzz valgrind clean

all: build

$(FFMPEG_PREFIX_FILE):
	@mkdir -p $(BUILD)
	scripts/setup.sh > $@.tmp && mv $@.tmp $@

setup: $(FFMPEG_PREFIX_FILE)

$(BUILD)/CMakeCache.txt: $(FFMPEG_PREFIX_FILE)
	cmake -S . -B $(BUILD) -DCMAKE_PREFIX_PATH="$$(cat $(FFMPEG_PREFIX_FILE))" $(CMAKE_FLAGS)

configure: $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	@if [ -x $(BUILD)/bin/vantor-transcode ]; then \
	  $(BUILD)/bin/vantor-transcode -o out; \
	else \
	  echo "vantor-transcode is not built yet; the libraries and tests are in $(BUILD)/"; \
	fi

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	$(MAKE) test BUILD=build-sanitize CMAKE_FLAGS="-DVANTOR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

clean:
	rm -rf build build-sanitize
