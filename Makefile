# Front door: `make demo` and `make test` work on a fresh Debian 12 machine.
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

APT_PACKAGES = cmake ninja-build g++ qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev libsodium-dev strace \
               qtkeychain-qt6-dev libsecret-1-0 dbus gnome-keyring libsecret-tools
# Further tools of the quality gates, installed by the targets that need them.
FUZZ_PACKAGES     = clang libclang-rt-14-dev
CLANG_PACKAGES    = clang
TIDY_PACKAGES     = clang-tidy
COVERAGE_PACKAGES = gcovr
DOCS_PACKAGES     = doxygen
# RapidJSON only as a yardstick for the stored-form benchmarks.
BENCH_PACKAGES    = rapidjson-dev
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build test demo install clean format \
        test-clang tidy sanitize sanitize-address sanitize-thread fuzz coverage bench docs

all: build

# Installs only what is missing, so repeated runs cost nothing.
deps:
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(APT_PACKAGES)"

.PHONY: apt-install
apt-install:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DSESSIONCONFIG_WERROR=ON $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Two runs of the main program against a fresh state directory: the first starts
# fresh and stores the session, the second restores it; then the encrypted file.
SESSIONCTL = ./$(BUILD)/tools/sessionctl/sessionctl
demo: build
	@state=$$(mktemp -d) && trap 'rm -rf "$$state"' EXIT && \
	echo "== sessionctl run --state $$state" && $(SESSIONCTL) run --state "$$state" && \
	echo && echo "== sessionctl run --state $$state (again)" && $(SESSIONCTL) run --state "$$state" && \
	echo && echo "== sessionctl show $$state/session.enc" && $(SESSIONCTL) show "$$state/session.enc"

install: build
	cmake --install $(BUILD) --prefix $(or $(PREFIX),/usr/local)

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-clang build-asan build-tsan build-fuzz build-cov build-bench

# The API reference of the installed headers in $(BUILD)/docs/html; fails on any
# undocumented public class, function or enumerator.
docs:
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(DOCS_PACKAGES)"
	@rm -rf $(BUILD)/docs && mkdir -p $(BUILD)/docs
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
test-clang: deps
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(CLANG_PACKAGES)"
	CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DSESSIONCONFIG_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
	cmake --build build-clang -j $(JOBS)
	cd build-clang && ctest --output-on-failure -j $(JOBS)

# clang-tidy with the checks of .clang-tidy over every source of the libraries and the
# main program (their headers with them), from the Clang build's compile commands.
TIDY_SOURCES = $(shell git ls-files 'src/*.cpp' 'platform/*.cpp' 'storage/*.cpp' 'tools/*.cpp')
tidy: deps
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(CLANG_PACKAGES) $(TIDY_PACKAGES)"
	CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DSESSIONCONFIG_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
	@# The generated export headers must exist before the sources are read.
	cmake --build build-clang -j $(JOBS) --target sessionctl
	run-clang-tidy -quiet -p build-clang -j $(JOBS) $(TIDY_SOURCES) > build-clang/tidy.log 2>&1 || \
	  { grep -E '(warning|error):' build-clang/tidy.log | sort -u; echo "clang-tidy: findings above"; exit 1; }
	@echo "clang-tidy: no findings in $(words $(TIDY_SOURCES)) sources"

sanitize: sanitize-address sanitize-thread

sanitize-address: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSESSIONCONFIG_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	cd build-asan && $(ASAN_ENV) $(SANITIZE_CTEST)

sanitize-thread: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSESSIONCONFIG_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && $(TSAN_ENV) $(TSAN_CTEST)

# libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, clang only. Each
# target starts from its committed corpus; what it finds goes to build-fuzz/corpus/,
# crashes to build-fuzz/artifacts/.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = $(patsubst fuzz/%.cpp,%,$(wildcard fuzz/fuzz_*.cpp))
fuzz: deps
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(FUZZ_PACKAGES)"
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
coverage: deps
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(COVERAGE_PACKAGES)"
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
BENCH_PROGRAMS ?= bench_stores bench_scale bench_autosave
BENCH_ARGS ?=
bench: deps
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(BENCH_PACKAGES)"
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSESSIONCONFIG_WERROR=ON \
	  -DBUILD_TESTING=OFF -DSESSIONCONFIG_BENCHMARKS=ON
	cmake --build build-bench -j $(JOBS)
	@for b in $(BENCH_PROGRAMS); do echo "== $$b"; ./build-bench/bench/$$b $(BENCH_ARGS) || exit 1; done
