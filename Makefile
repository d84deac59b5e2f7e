# SPDX-License-Identifier: MIT
# Front door: `make demo` and `make test` work on a fresh Debian 12 machine: they run
# `make deps` first. Every other target installs nothing: it uses the tools already
# present and says which one is missing (`make deps-ci` installs the gates' tools).
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
CLANG_FORMAT ?= clang-format

# Debian packages by group; `make deps DEPS="build ci"` installs both groups.
DEPS ?= build
DEPS_build = cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev libsodium-dev strace \
             qtkeychain-qt6-dev libsecret-1-0 dbus gnome-keyring libsecret-tools groff-base
# The quality gates' tools (.ci/run): Clang and its fuzzing runtime, clang-tidy,
# clang-format, gcovr, Doxygen, Google Benchmark with RapidJSON as the stored-form
# yardstick, and what the installed-package test uses to render the man page and
# load the shell completion.
DEPS_ci = clang libclang-rt-14-dev clang-tidy clang-format gcovr doxygen libbenchmark-dev rapidjson-dev \
          groff-base man-db bash-completion
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps deps-ci configure build test demo install clean format format-check \
        test-clang tidy sanitize sanitize-address sanitize-thread fuzz coverage bench docs

all: build

# Installs only what is missing, so a repeated run costs nothing and needs no root.
# Off Debian (no dpkg) it names the packages and leaves them to you.
deps:
	@packages="$(foreach g,$(DEPS),$(DEPS_$(g)))"; \
	if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then \
	  echo "make deps: not a Debian system; install the equivalents of:$$packages"; exit 0; \
	fi; \
	missing=""; for p in $$packages; do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

deps-ci:
	@$(MAKE) --no-print-directory deps DEPS="build ci"

# A gate's tool, or a clear stop naming the package that brings it.
require = @command -v $(1) >/dev/null || { echo "$(1) not found: install $(2) (make deps-ci does)"; exit 1; }

configure:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DSESSIONCONFIG_WERROR=ON $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: deps
	@$(MAKE) --no-print-directory build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Two runs of the main program against a fresh state directory: the first starts
# fresh and stores the session, the second restores it; then the encrypted file.
# Only the libraries and the program are built, not the tests.
SESSIONCTL = ./$(BUILD)/tools/sessionctl/sessionctl
demo: deps
	@$(MAKE) --no-print-directory configure
	cmake --build $(BUILD) -j $(JOBS) --target sessionctl
	@state=$$(mktemp -d) && trap 'rm -rf "$$state"' EXIT && \
	echo "== sessionctl run --state $$state" && $(SESSIONCTL) run --state "$$state" && \
	echo && echo "== sessionctl run --state $$state (again)" && $(SESSIONCTL) run --state "$$state" && \
	echo && echo "== sessionctl show $$state/session.enc" && $(SESSIONCTL) show "$$state/session.enc"

install: build
	cmake --install $(BUILD) --prefix $(or $(PREFIX),/usr/local)

# The tracked C++ sources, formatted in place by the project's .clang-format;
# format-check (in CI) fails on any file that formatting would change.
FORMAT_SOURCES = git ls-files -z '*.h' '*.cpp'
format:
	$(call require,$(CLANG_FORMAT),clang-format)
	$(FORMAT_SOURCES) | xargs -0 $(CLANG_FORMAT) -i

format-check:
	$(call require,$(CLANG_FORMAT),clang-format)
	$(FORMAT_SOURCES) | xargs -0 $(CLANG_FORMAT) --dry-run -Werror

clean:
	rm -rf $(BUILD) build-clang build-asan build-tsan build-fuzz build-cov build-bench

# The API reference of the installed headers in $(BUILD)/docs/html; fails on any
# undocumented public class, function or enumerator.
docs:
	$(call require,doxygen,doxygen)
	@rm -rf $(BUILD)/docs && mkdir -p $(BUILD)/docs
	cmake -DCONTRACT=tests/golden/properties.json -DOUT=$(BUILD)/docs/properties -P docs/property-pages.cmake
	DOCS_OUT=$(BUILD)/docs doxygen docs/Doxyfile
	@echo "API reference: $(BUILD)/docs/html/index.html"

# --- Quality gates --------------------------------------------------------------
# Each gate has its own build directory, so they never disturb the default build.
# Qt itself is not instrumented; the installed-package test builds a separate project
# without the sanitizer flags, so it stays out of the sanitizer runs.
SANITIZE_CTEST = ctest --output-on-failure -j $(JOBS) -E '^installed_package_consumer$$'
ASAN_ENV = ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1 \
           UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The secret-store cases stay out of the ThreadSanitizer run: GLib's D-Bus thread,
# which carries every question to the secret store, is not instrumented, and its
# own locks show up as races and double locks there. They run under AddressSanitizer.
TSAN_CTEST = ctest --output-on-failure -j $(JOBS) -E '^(installed_package_consumer|key_custody)$$'
TSAN_ENV = TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/cmake/tsan.supp"

# The whole suite again, built by Clang with warnings as errors; the Clang build also
# runs the thread-safety analysis of every lock (see ThreadSafety.h).
test-clang:
	$(call require,clang++,clang)
	CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DSESSIONCONFIG_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
	cmake --build build-clang -j $(JOBS)
	cd build-clang && ctest --output-on-failure -j $(JOBS)

# clang-tidy with the checks of .clang-tidy over every source of the libraries and the
# main program (their headers with them), from the Clang build's compile commands.
TIDY_SOURCES = $(shell git ls-files 'src/*.cpp' 'platform/*.cpp' 'storage/*.cpp' 'tools/*.cpp')
tidy:
	$(call require,clang++,clang)
	$(call require,run-clang-tidy,clang-tidy)
	CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DSESSIONCONFIG_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
	@# The generated export headers must exist before the sources are read.
	cmake --build build-clang -j $(JOBS) --target sessionctl
	run-clang-tidy -quiet -p build-clang -j $(JOBS) $(TIDY_SOURCES) > build-clang/tidy.log 2>&1 || \
	  { grep -E '(warning|error):' build-clang/tidy.log | sort -u; echo "clang-tidy: findings above"; exit 1; }
	@echo "clang-tidy: no findings in $(words $(TIDY_SOURCES)) sources"

sanitize: sanitize-address sanitize-thread

sanitize-address:
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSESSIONCONFIG_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	cd build-asan && $(ASAN_ENV) $(SANITIZE_CTEST)

sanitize-thread:
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSESSIONCONFIG_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && $(TSAN_ENV) $(TSAN_CTEST)

# libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, clang only. Each
# target starts from its committed corpus; what it finds goes to build-fuzz/corpus/,
# crashes to build-fuzz/artifacts/.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = $(patsubst fuzz/%.cpp,%,$(wildcard fuzz/fuzz_*.cpp))
fuzz:
	$(call require,clang++,clang libclang-rt-14-dev)
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSESSIONCONFIG_WERROR=ON -DBUILD_TESTING=OFF -DSESSIONCONFIG_FUZZ=ON -DSESSIONCONFIG_SANITIZE=address,undefined
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	@mkdir -p build-fuzz/artifacts
	@for t in $(FUZZ_TARGETS); do \
	  echo "== $$t for $(FUZZ_SECONDS) s (log: build-fuzz/$$t.log)"; mkdir -p build-fuzz/corpus/$$t; \
	  dict=""; [ -f fuzz/$$t.dict ] && dict="-dict=fuzz/$$t.dict"; \
	  if $(ASAN_ENV) ./build-fuzz/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $$dict \
	       -artifact_prefix=build-fuzz/artifacts/$$t- build-fuzz/corpus/$$t fuzz/corpus/$$t \
	       >build-fuzz/$$t.log 2>&1; then \
	    grep -E '^(INFO: seed corpus|#[0-9]+ *(INITED|DONE)|Done |stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' build-fuzz/$$t.log; \
	  else \
	    tail -n 60 build-fuzz/$$t.log; echo "$$t FAILED"; exit 1; \
	  fi; \
	done

# Line and branch coverage of the libraries (src/, platform/, storage/) and the main
# program (tools/) over the whole suite.
COVERAGE_MIN_LINES ?= 95
coverage:
	$(call require,gcovr,gcovr)
	cmake -S . -B build-cov -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSESSIONCONFIG_COVERAGE=ON
	cmake --build build-cov -j $(JOBS)
	find build-cov -name '*.gcda' -delete
	cd build-cov && ctest -j $(JOBS) -E '^installed_package_consumer$$' --output-on-failure
	# The fault tests kill sessionctl at its writes, now and then while it writes its
	# own counts: gcov then reads a damaged count, which gcovr 5.2 would stop (and hang) on.
	gcovr --root . --object-directory build-cov --filter 'src/' --filter 'platform/' --filter 'storage/' --filter 'tools/' \
	  --gcov-ignore-parse-errors --exclude-throw-branches --exclude-unreachable-branches -j $(JOBS) \
	  --txt build-cov/coverage.txt --html-details build-cov/coverage.html \
	  --print-summary --fail-under-line $(COVERAGE_MIN_LINES)
	@echo "per-file report: build-cov/coverage.txt, build-cov/coverage.html"

# Google Benchmark programs, Release build; bench_stores and bench_scale end with their summaries,
# bench_autosave with its crash window.
# BENCH_PROGRAMS="bench_stores bench_codec bench_datasets" runs the others too.
BENCH_PROGRAMS ?= bench_stores bench_scale bench_autosave bench_control
BENCH_ARGS ?=
bench:
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSESSIONCONFIG_WERROR=ON \
	  -DBUILD_TESTING=OFF -DSESSIONCONFIG_BENCHMARKS=ON
	cmake --build build-bench -j $(JOBS)
	@for b in $(BENCH_PROGRAMS); do echo "== $$b"; ./build-bench/bench/$$b $(BENCH_ARGS) || exit 1; done
