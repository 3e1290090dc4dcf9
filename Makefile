# Front door for building, running and testing Tintavo on Debian 12.
# Every target installs the Debian packages it needs first (see `deps`).

BUILD       ?= build
ASAN_BUILD  ?= build-asan
CMAKE_FLAGS ?=
SAMPLE      ?= /usr/share/backgrounds/mate/nature/LadyBird.jpg

# Debian packages the build, the tests and `make run` need.
DEPS = cmake ninja-build g++ pkg-config make \
       libjpeg-dev libexif-dev libpng-dev googletest libgtest-dev libbenchmark-dev \
       qt6-base-dev libgl-dev libcurl4-openssl-dev libssl-dev openssl ca-certificates \
       xvfb xauth xdotool fonts-dejavu-core mate-backgrounds clang-format
# The Debian package and its check (tools/check-package.sh).
DEPS += dpkg-dev librsvg2-bin desktop-file-utils appstream man-db groff-base
# The command-line tool's PNG encoder, and what `make cli-bench` runs against (the codec floor).
DEPS += zlib1g-dev libjpeg-turbo-progs hyperfine time

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build test run demo asan-test bench format check-format check-includes clean package

all: build

# Installs only what is missing, so a machine that has everything asks no registry.
deps:
	@missing=""; for p in $(DEPS); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

# The Debian package, in $(BUILD): install it with `sudo apt-get install ./$(BUILD)/tintavo_*.deb`.
package: build
	cmake --build $(BUILD) --target package

# Starts the window; without a display it says so and runs the command-line demo.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ] || [ "$$QT_QPA_PLATFORM" = offscreen ]; then \
	  ./$(BUILD)/program/tintavo; \
	else \
	  echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset): running the command-line demo."; \
	  $(MAKE) --no-print-directory demo; \
	fi

demo: build
	@mkdir -p $(BUILD)/demo
	./$(BUILD)/tools/cli/tintavo-cli --cc 215,90,15 --thresholds 50,60,40 --filter \
	  "$(SAMPLE)" -o $(BUILD)/demo/LadyBird-kept-red.jpg
	@echo "Result: $(BUILD)/demo/LadyBird-kept-red.jpg"

asan-test: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTINTAVO_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j2

bench: configure
	cmake --build $(BUILD) --target tintavo-bench
	./$(BUILD)/bench/tintavo-bench

# tintavo-cli against `djpeg | cjpeg` on a generated 20-megapixel photograph, as ratios.
.PHONY: cli-bench
cli-bench: configure
	cmake --build $(BUILD) --target tintavo-cli tintavo-make-photo
	bench/cli-bench.sh $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

check-format: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

check-includes:
	tools/check-includes.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
