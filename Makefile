# Everything a fresh Debian 12 machine needs: `make run` and `make test` install
# missing packages, configure, build, then run the program or the tests.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

PACKAGES := cmake make g++ pkg-config qt6-base-dev libgl-dev \
            libavformat-dev libavcodec-dev libswresample-dev libavutil-dev \
            libsoundtouch-dev libpulse-dev pulseaudio pulseaudio-utils googletest libgtest-dev ffmpeg \
            fonts-dejavu-core fonts-liberation time desktop-file-utils sox libsox-fmt-mp3 lame libjemalloc-dev \
            man-db bash-completion librsvg2-bin file dpkg-dev lintian appstream \
            vorbis-tools

# Cue sheets (clipwren-cut --cue); mp3splt is the cue split's peer in bench/cue.
PACKAGES += libcue-dev mp3splt

# Loudness of a marked piece (EBU R128).
PACKAGES += libebur128-dev

# The window's key tests run a second time on a private X server with a window manager.
PACKAGES += xvfb xauth openbox x11-utils

# The sound-server tests run on PipeWire as well, with its own recorder and session bus.
PACKAGES += pipewire pipewire-pulse wireplumber libpipewire-0.3-dev dbus

# The player's load benchmark plays the same sound with mpv as well.
PACKAGES += mpv

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps configure build run test test-sanitize bench screenshot install package clean

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/src/app/clipwren

# What a real sound server plays is measured as it is heard; a case the machine itself
# disturbed (the server falling short under load, seen under the sanitizer) is run again,
# up to three times in all. Every other case runs once.
test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -LE soundserver $(CTEST_ARGS)
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -L soundserver --repeat until-pass:3 $(CTEST_ARGS)

# AddressSanitizer and UndefinedBehaviorSanitizer over the whole suite. Leak reports are
# suppressed only for system libraries that keep their allocations until exit.
SANITIZER_ENV := ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1 \
                 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize/lsan.supp:print_suppressions=0 \
                 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

test-sanitize:
	$(SANITIZER_ENV) $(MAKE) test BUILD_DIR=build-sanitize BUILD_TYPE=Debug CMAKE_ARGS="-DCLIPWREN_SANITIZE=ON"

bench: build
	bench/run-bench.sh $(BUILD_DIR)

screenshot: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest -L screenshot --output-on-failure
	@echo "Screenshots are in $(BUILD_DIR)/artifacts/"

install: build
	cmake --install $(BUILD_DIR)

# A Debian package of both programs, packed from the tree `make build` made.
package: build
	cd $(BUILD_DIR) && cpack

clean:
	rm -rf $(BUILD_DIR)
