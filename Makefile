# The two commands of the README: `make test` and `make run`. Both do all
# set-up on a fresh machine (packages, FFmpeg 7.1, configure, build).
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)
FFMPEG_PREFIX_FILE = $(BUILD)/.ffmpeg-prefix

.PHONY: all setup configure build test run sanitize bench bench-batch clean build-aarch64 test-aarch64 deb deb-aarch64

all: build

$(FFMPEG_PREFIX_FILE):
	bash -c 'source scripts/lib.sh && ffmpeg_prefix_of $(BUILD)' > /dev/null

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
	  $(BUILD)/bin/vantor-transcode -o out --overwrite && \
	  echo "The thumbnails of the bundled clip are in $$(pwd)/out/"; \
	else \
	  echo "vantor-transcode is not built yet; the libraries and tests are in $(BUILD)/"; \
	fi

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	$(MAKE) test BUILD=build-sanitize CMAKE_FLAGS="-DVANTOR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

clean:
	rm -rf build build-sanitize

# The whole suite cross-built for aarch64 and run under qemu-user.
AARCH64_BUILD ?= build-aarch64
build-aarch64:
	@mkdir -p $(AARCH64_BUILD)
	scripts/setup-aarch64.sh > $(AARCH64_BUILD)/.prefixes.tmp
	mv $(AARCH64_BUILD)/.prefixes.tmp $(AARCH64_BUILD)/.prefixes
	cmake -S . -B $(AARCH64_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
	  -DCMAKE_PREFIX_PATH="$$(cat $(AARCH64_BUILD)/.prefixes)"
	cmake --build $(AARCH64_BUILD) -j $(JOBS)
	scripts/check-elf.sh $(AARCH64_BUILD) AArch64

test-aarch64: build-aarch64
	cd $(AARCH64_BUILD) && ctest --output-on-failure -j $(JOBS)

# The Debian package of the build (/opt/vantor-ffmpeg), checked: it unpacks
# and runs from any folder, and installs and runs with apt-get.
deb: build
	cd $(BUILD) && cpack -G DEB > /dev/null
	scripts/check-deb.sh $(BUILD)/vantor-ffmpeg_*_$$(dpkg --print-architecture).deb

# The arm64 package from the cross build; its tool runs under qemu.
deb-aarch64: build-aarch64
	cd $(AARCH64_BUILD) && cpack -G DEB > /dev/null
	scripts/check-deb.sh $(AARCH64_BUILD)/vantor-ffmpeg_*_arm64.deb

# Micro-benchmarks of the copy routines and of the orientation stage beside a
# copy, the end-to-end comparison with the ffmpeg CLI of the same FFmpeg
# (bench/results.md), the thumbnail jobs against ffmpeg and Debian's
# ffmpegthumbnailer (bench/thumbnails.md), the colour stage's cost and look
# (bench/colour.md), and batch scaling on two cores (bench/batch_scaling.md).
bench: configure
	cmake -S . -B $(BUILD) -DVANTOR_BUILD_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)
	$(BUILD)/bin/bench_image_copy --benchmark_min_time=0.3 | tee $(BUILD)/bench_image_copy.txt
	$(BUILD)/bin/bench_orientation --benchmark_min_time=0.3 | tee $(BUILD)/bench_orientation.txt
	bench/run_e2e.py --build $(BUILD) --ffmpeg-prefix "$$(cat $(FFMPEG_PREFIX_FILE))" \
	  --runs 9 --micro $(BUILD)/bench_image_copy.txt
	bash -c 'source scripts/lib.sh && ensure_packages bench ffmpeg x264 x265 ffmpegthumbnailer'
	bench/bench_thumbnails.py --build $(BUILD) --ffmpeg-prefix "$$(cat $(FFMPEG_PREFIX_FILE))" --runs 5
	bench/bench_colour.py --build $(BUILD) --ffmpeg-prefix "$$(cat $(FFMPEG_PREFIX_FILE))" --runs 9
	bench/batch_scaling.py --build $(BUILD) --output bench/batch_scaling.md

# Only the batch scaling of `make bench`: --batch with --jobs 1 against
# --jobs 2 on lists of small and 1080p inputs; writes bench/batch_scaling.md.
bench-batch: build
	bash -c 'source scripts/lib.sh && ensure_packages bench ffmpeg'
	bench/batch_scaling.py --build $(BUILD) --output bench/batch_scaling.md

include mk/robustness.mk
