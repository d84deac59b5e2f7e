# Front door: `make demo` and `make test` work on a fresh Debian 12 machine.
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

APT_PACKAGES = cmake ninja-build g++ qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev libsodium-dev
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build test demo install clean format

all: build

# Installs only what is missing, so repeated runs cost nothing.
deps:
	@missing=""; for p in $(APT_PACKAGES); do \
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
	rm -rf $(BUILD)
