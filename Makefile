# vok: build, run, test, benchmark and fuzz.
#
#   make          build the programs: build/vok, and build/vokid (which needs
#                 FFmpeg's libraries, nlohmann-json and CLI11)
#   make run      build it and fingerprint the bundled sample
#   make test     build and run the whole test suite (Release, in build/)
#   make test-browser  build vokid and run the lookup server's page test
#                 alone, in headless Chromium (chromium chromium-driver
#                 python3-selenium)
#   make install  build and install into PREFIX (/usr/local): programs,
#                 libvok, its headers, pkg-config and CMake files, man pages
#   make sanitize the test suite under AddressSanitizer and UBSan (build-sanitize/),
#                 less the tests labelled slow (many processes, long trials),
#                 which make test has run once
#   make tsan     handles on several threads under ThreadSanitizer (build-tsan/)
#   make memcheck vok and vokid end to end under valgrind memcheck
#   make bench    build and run the benchmarks (build-bench/)
#   make fuzz     build and run every fuzz target for FUZZ_SECONDS (300) each,
#                 JOBS at a time (build-fuzz/, clang with libFuzzer)
#   make clean    remove every build folder

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE ?= cmake
SAMPLE ?= data/sample.wav
FUZZ_SECONDS ?= 300
PREFIX ?= /usr/local

.PHONY: all vok run test test-browser sanitize tsan memcheck bench fuzz install clean

all: vok

vok:
	$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build build -j $(JOBS) --target programs vok_shared vok_static

install:
	$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build build -j $(JOBS)
	$(CMAKE) --install build --prefix $(PREFIX)

run: vok
	./build/vok -f $(SAMPLE)

test:
	$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=Release -DVOK_TESTS=ON
	$(CMAKE) --build build -j $(JOBS)
	ctest --test-dir build --output-on-failure --no-tests=error -j $(JOBS)

test-browser:
	$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=Release -DVOK_TESTS=ON
	$(CMAKE) --build build -j $(JOBS) --target vokid
	ctest --test-dir build --output-on-failure --no-tests=error -L browser

# -O1 with line tables: what the sanitizers' own guides advise, and half
# the build time of -O2 -g, with every report still naming file and line.
sanitize:
	$(CMAKE) -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOK_TESTS=ON \
	  -DVOK_SANITIZE=ON -DVOK_WERROR=ON \
	  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
	$(CMAKE) --build build-sanitize -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir build-sanitize --output-on-failure --no-tests=error -j $(JOBS) -LE slow

tsan:
	$(CMAKE) -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOK_TESTS=ON -DVOK_TSAN=ON
	$(CMAKE) --build build-tsan -j $(JOBS) --target test_threads
	TSAN_OPTIONS=halt_on_error=1 ./build-tsan/tests/libvok/engine/test_threads

memcheck: vok
	bash tests/memcheck.sh build/vok

bench:
	$(CMAKE) -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVOK_TESTS=OFF -DVOK_BENCH=ON
	$(CMAKE) --build build-bench -j $(JOBS)
	$(CMAKE) --build build-bench --target run_benchmarks

# -O1 with line tables, as for the sanitizers: a third less build time.
fuzz:
	CC=clang CXX=clang++ $(CMAKE) -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
	  -DVOK_TESTS=OFF -DVOK_FUZZ=ON -DVOK_FUZZ_SECONDS=$(FUZZ_SECONDS)
	$(CMAKE) --build build-fuzz -j $(JOBS)
	$(CMAKE) --build build-fuzz --target run_fuzzers -j $(JOBS)

clean:
	rm -rf build build-sanitize build-tsan build-bench build-fuzz
