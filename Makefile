# Builds and tests the tool on Debian 12.
#
#   make deps   install the Debian packages the build and the tests need (only missing ones)
#   make build  configure and build build/host, build/asan and build/win
#   make test   deps, build, format check, then every test suite; fails if anything fails
#   make dist   deps, build the two Windows programs and the Debian package of the offline
#               companion (packaging/make-deb), then packaging/make-release: dist/ holds the
#               installer package, the portable archive, the .deb and SHA256SUMS (signed when SIGN_PFX
#               names a code-signing certificate; see packaging/make-release); the same commit
#               gives the same bytes (scripts/check-reproducible checks two fresh clones)
#   make demo   deps, then scripts/demo: build build/win and run the tool on a demo registry
#               (interactively on $DISPLAY, or driven on Xvfb with a screenshot when there is none)
#   make bench  build build/win, then time the scan: natively (scripts/run-bench, where it exists)
#               and under Wine (scripts/run-wine-bench; e.g. BENCH_ARGS="--keys 200000")
#   make fuzz   the scan fuzzer for FUZZ_SECONDS (default 3600) on both cores, growing build/fuzz/corpus
#   make clean  remove the build folders and dist/

SHELL := /bin/bash
JOBS ?= 2
CMAKE_BUILD := cmake --build
CTEST := ctest --output-on-failure -j$(JOBS)
WINE_RUN := scripts/wine-run --root build/win/wine

PACKAGES := g++ cmake googletest libgtest-dev g++-mingw-w64-x86-64-posix wine wine64 xvfb \
	xauth fonts-wine x11-utils clang-format libbenchmark-dev clang libclang-rt-dev \
	nlohmann-json3-dev pkg-config libhivex-dev reglookup wixl msitools osslsigncode openssl zip \
	unzip git libwin-hivex-perl dpkg-dev scdoc lintian man-db ntfs-3g attr fuse3
# The release's version, as CMakeLists.txt declares it.
VERSION := $(shell sed -n 's/^project.ModemConfig VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)

# Our own C++ sources, for the format check.
SOURCE_DIRS := app bench cli discovery framework platform switching tests ui
SOURCES = $(shell find $(SOURCE_DIRS) -type f \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null | sort)

FUZZ_RUNS ?= 100000
FUZZ_SECONDS ?= 3600

.PHONY: deps build build-host build-asan build-win test format-check dist demo bench fuzz clean

# With KEEP_GOING set, a build goes on past a target that fails. The build tool's flag depends on
# the generator of the build folder $(1): Ninja takes a count of failures (0: no limit), make a
# bare -k.
keep_going = $(if $(KEEP_GOING),-- $$(grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja' $(1)/CMakeCache.txt \
	&& echo '-k 0' || echo '-k'))

deps:
	@missing=""; \
	for package in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' "$$package" 2>/dev/null | grep -q '^install ok installed$$' \
	    || missing="$$missing $$package"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	fi

build: build-host build-asan build-win

build-host:
	cmake -S . -B build/host
	$(CMAKE_BUILD) build/host -j$(JOBS) $(call keep_going,build/host)

build-asan:
	cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DMODEMCONFIG_SANITIZE=ON
	$(CMAKE_BUILD) build/asan -j$(JOBS) $(call keep_going,build/asan)

build-win:
	cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	$(CMAKE_BUILD) build/win -j$(JOBS) $(call keep_going,build/win)

# clang-format --dry-run -Werror on every source; lists the files that need formatting.
format-check:
	@unformatted=$$(for file in $(SOURCES); do \
	  clang-format --dry-run -Werror "$$file" >/dev/null 2>&1 || echo "  $$file"; \
	done); \
	if [ -n "$$unformatted" ]; then \
	  echo "Not clang-formatted (clang-format -i FILE fixes one):"; echo "$$unformatted"; \
	  exit 1; \
	fi

# Every step runs even when an earlier one failed: a build goes on past a target that fails
# (KEEP_GOING, with any generator), and ctest runs what was built (a test program that was not
# built counts as a failed test).
# The exit status says whether all passed. The Wine session is stopped at the end in any case,
# so no Wine process outlives the run.
test: deps
	@failed=""; \
	rm -f build/win/wine/silent-failures.log; \
	for config in host asan win; do \
	  echo "== Building build/$$config"; \
	  $(MAKE) --no-print-directory build-$$config KEEP_GOING=1 \
	    || failed="$$failed build-$$config"; \
	done; \
	echo "== Format check"; \
	if $(MAKE) --no-print-directory format-check; then echo "Format check passed."; \
	else failed="$$failed format"; fi; \
	for config in host asan win; do \
	  echo "== Tests in build/$$config"; \
	  if [ -f build/$$config/CTestTestfile.cmake ]; then \
	    $(CTEST) --test-dir build/$$config || failed="$$failed tests-$$config"; \
	  else \
	    echo "build/$$config is not configured"; failed="$$failed tests-$$config"; \
	  fi; \
	done; \
	echo "== Fuzzing (build/fuzz)"; \
	scripts/run-fuzz --runs $(FUZZ_RUNS) || failed="$$failed fuzz"; \
	[ ! -d build/win/wine ] || for config in headless desktop installer; do \
	  $(WINE_RUN) --config $$config --stop; done; \
	if [ -s build/win/wine/silent-failures.log ]; then \
	  echo "== Wine lost these test programs before their first line; each was run again:"; \
	  cat build/win/wine/silent-failures.log; \
	fi; \
	if [ -n "$$failed" ]; then echo "FAILED:$$failed"; exit 1; fi; \
	echo "All tests passed."

# The release, from the programs of build/win (the test suites need not be built for it).
dist: deps
	cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	$(CMAKE_BUILD) build/win -j$(JOBS) --target release_programs
	packaging/make-deb --build build/deb --out build/deb-package
	packaging/make-release --build build/win --out dist --deb build/deb-package/modemprefix_$(VERSION)_amd64.deb

demo: deps
	scripts/demo

fuzz: deps
	scripts/run-fuzz --seconds $(FUZZ_SECONDS) --jobs $(JOBS)

bench: build-win
	@if [ -x scripts/run-bench ]; then scripts/run-bench; fi
	scripts/run-wine-bench --build build/win $(BENCH_ARGS)

clean:
	-[ ! -d build/win/wine ] || for config in headless desktop installer; do \
	  $(WINE_RUN) --config $$config --stop; done
	-[ ! -d build/win/demo ] || for config in desktop display; do \
	  scripts/wine-run --root build/win/demo --config $$config --stop; done
	rm -rf build/host build/asan build/win build/deb build/deb-package build/fuzz build/fuzz-coverage dist
