# kelvo: the two everyday commands are `make run` and `make test`. Both install
# whatever is missing on a Debian 12 machine first: `make run` what building and
# running the program take, `make test` (and the other checks) the test tools too.

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
# How long `make fuzz` runs each fuzz target, in seconds.
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
# `make install` installs for every user; PREFIX=~/.local installs for you alone.
PREFIX     ?= /usr/local
# A ~ that the shell left unexpanded (PREFIX=~/.local under sh) is the home folder.
INSTALL_PREFIX = $(patsubst ~%,$(HOME)%,$(PREFIX))
CMAKE_TYPE ?= RelWithDebInfo

.PHONY: all deps configure build run test check-sanitizers lint fuzz bench package install clean

all: build

# The tests are built, and their tools installed, only for the targets that run them.
# A target's variables hold for everything it depends on, so `make test` installs and
# configures with TESTS=ON.
TESTS = OFF
test check-sanitizers lint fuzz: TESTS = ON

deps:
	@scripts/install-deps $(if $(filter ON,$(TESTS)),--test)

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(CMAKE_TYPE) -DCMAKE_INSTALL_PREFIX='$(INSTALL_PREFIX)' \
		-DBUILD_TESTING=$(TESTS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/kelvo

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

check-sanitizers: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKELVO_SANITIZE=ON -DBUILD_TESTING=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# clang-tidy with the checks of .clang-tidy over every source file the build compiles,
# and clang-format in dry run over every C++ file; any finding fails.
lint: build
	scripts/lint $(BUILD)

# Every libFuzzer target of tests/fuzz, built with clang, libFuzzer and the sanitizers in
# $(FUZZ_BUILD)/, then each run for FUZZ_SECONDS from its seeds and the corpus of earlier runs;
# a finding fails (tests/README.md, "Fuzzing").
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	tests/fuzz/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS) $(JOBS)

bench: build
	cmake --build $(BUILD) -j $(JOBS) --target $$(cd bench && ls *_bench.cpp 2>/dev/null | sed 's/\.cpp$$//')

# Only what is installed is built: the program and the compressed manual page and changelog.
INSTALLED_TARGETS = kelvo compressed_docs

package: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(INSTALLED_TARGETS)
	cd $(BUILD) && cpack -G DEB

# sudo only where it is needed: not for root, nor for a prefix you can write to
# (the nearest folder of it that exists), so PREFIX=~/.local stays yours.
install: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(INSTALLED_TARGETS)
	@rm -f $(BUILD)/install_manifest.txt
	@dir='$(INSTALL_PREFIX)'; while [ ! -d "$$dir" ]; do dir=$$(dirname "$$dir"); done; \
	sudo=; if [ "$$(id -u)" -ne 0 ] && [ ! -w "$$dir" ]; then sudo=sudo; fi; \
	echo "$$sudo cmake --install $(BUILD) --prefix '$(INSTALL_PREFIX)'"; \
	$$sudo cmake --install $(BUILD) --prefix '$(INSTALL_PREFIX)'

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
