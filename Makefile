# Velmora: the two everyday commands are `make run` and `make test`.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 600

.PHONY: run build test fuzz fuzz-video faults screenshot bench bench-media format clean install uninstall package

# Installs what is missing, builds optimised, opens the window on a sample card made for it
# (build/sample, made afresh once removed) so that a first press of the big button is
# harmless; ARGS=FOLDER opens another folder.
SAMPLE = build/sample
run: build
	test -d $(SAMPLE) || ./build/release/sample/make-sample $(SAMPLE)
	./build/release/app/velmora $(if $(ARGS),$(ARGS),$(SAMPLE)/DCIM/100CANON)

build:
	scripts/bootstrap build
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build build/release -j $(JOBS)

# Installs what is missing, builds with warnings as errors under AddressSanitizer and UBSan,
# and runs every test through CTest (window tests on the offscreen platform).
test:
	scripts/bootstrap test
	cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DVELMORA_WERROR=ON
	cmake --build build/asan -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --output-on-failure -j $(JOBS)

# The EXIF parser under libFuzzer for FUZZ_SECONDS seconds (not part of CI).
fuzz:
	scripts/bootstrap fuzz
	cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
	    -DVELMORA_FUZZ=ON -DVELMORA_WINDOW=OFF -DBUILD_TESTING=OFF
	cmake --build build/fuzz -j $(JOBS) --target exif_fuzzer
	mkdir -p build/fuzz/corpus
	./build/fuzz/fuzz/exif_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=6000 \
	    -dict=fuzz/exif.dict build/fuzz/corpus fuzz/seeds

# The video box reader under libFuzzer for FUZZ_SECONDS seconds (not part of CI); seeds are
# the byte-built and tool-made movies in fuzz/video-seeds.
fuzz-video:
	scripts/bootstrap fuzz
	cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
	    -DVELMORA_FUZZ=ON -DVELMORA_WINDOW=OFF -DBUILD_TESTING=OFF
	cmake --build build/fuzz -j $(JOBS) --target video_fuzzer
	mkdir -p build/fuzz/video-corpus
	./build/fuzz/fuzz/video_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=4096 \
	    -dict=fuzz/video.dict build/fuzz/video-corpus fuzz/video-seeds

# Faults, bad input and load against velmora-cli, with the invariant checker after every run;
# needs root for its mounts (what it cannot do it skips and says so). Prints one summary line.
faults:
	scripts/bootstrap faults
	tests/faults/run

# Opens the window under a virtual display and writes docs/screenshot.png.
screenshot:
	scripts/bootstrap screenshot
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build build/release -j $(JOBS)
	scripts/screenshot build/release/app/velmora docs/screenshot.png

# Installs the programs, the menu entry, icons, manual pages and completion under PREFIX;
# uninstall removes them again, with the folders install made that are then empty.
PREFIX ?= /usr/local
install: build
	scripts/install-tree install build/release $(PREFIX)

uninstall: build
	scripts/install-tree uninstall build/release $(PREFIX)

# A Debian package (build/release/velmora_VERSION_ARCH.deb); scripts/check-package tries it.
package: build
	cd build/release && cpack -G DEB

bench:
	bench/run

# Dry runs with --media-dates on HEIC, raw and video files, and with every option off against
# the build before media dates (see bench/README.md).
bench-media:
	bench/media

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
