# Two commands do all the set-up on a fresh Debian 12 machine:
#   make run   install what is missing, build, start the game
#   make test  install what is missing, build, run every test through CTest
BUILD    ?= build
ASANBUILD ?= build-asan
FUZZBUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS     ?= $(shell nproc)
PACKAGES := build-essential cmake pkg-config qt6-base-dev libqt6svg6 \
            libgtest-dev libgmock-dev libbenchmark-dev fonts-liberation2 \
            xvfb xauth openbox xdotool x11-utils x11-apps imagemagick poppler-utils \
            appstream desktop-file-utils dpkg-dev file python3 clang libclang-rt-14-dev \
            pulseaudio pulseaudio-utils weston xwayland qt6-wayland icewm lintian
PACKAGES += libpulse-dev  # the sound cues, played on the session's sound server
PACKAGES += libcups2-dev  # print jobs handed to the print service, and its answer
PACKAGES += pipewire pipewire-pulse wireplumber dbus-daemon  # the end-to-end checks' private pipewire
PACKAGES += cups-daemon cups-client  # the end-to-end checks' private print service
PACKAGES += xclip  # the end-to-end checks read message boxes through the clipboard
PACKAGES += mutter pipewire pipewire-bin wireplumber gstreamer1.0-pipewire gstreamer1.0-plugins-base gstreamer1.0-plugins-good python3-gi python3-gst-1.0 gir1.2-gstreamer-1.0 dbus-daemon libglib2.0-bin i3 xfwm4 xfce4-panel xfconf wmctrl x11-xserver-utils  # e2e checks under mutter (screen cast, remote input), i3, xfwm4 with its panel; xrandr
PACKAGES += sway grim kwin-wayland breeze kwin-style-breeze plasma-wayland-protocols libwayland-dev libxkbcommon-tools python3-gi gir1.2-glib-2.0 libglib2.0-bin dbus-daemon x11-xserver-utils  # the sway and kwin_wayland checks
SUDO     := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build run test bench asan asan-test fuzz clean deb

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	    echo "Installing missing packages:" $$missing; \
	    $(SUDO) apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/slabix

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	./$(BUILD)/bench/slabix_bench

# A Debian package of the game, $(BUILD)/slabix_<version>_<arch>.deb; install
# it with: sudo apt-get install ./$(BUILD)/slabix_*.deb
deb: build
	cd $(BUILD) && cpack -G DEB

# Every test again with AddressSanitizer and UndefinedBehaviorSanitizer; the
# first error stops the test that made it. Leaks are checked by the leak
# session test (its own options; tools/lsan.supp), not in the unit tests, where
# the system's font and display libraries keep caches until exit.
SANITIZER_ENV := ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:abort_on_error=0:detect_stack_use_after_return=1:strict_init_order=1 \
                 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
asan-test: deps
	@[ -f $(ASANBUILD)/CMakeCache.txt ] || cmake -S . -B $(ASANBUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DSLABIX_SANITIZE=ON -DSLABIX_BENCH=OFF
	cmake --build $(ASANBUILD) -j $(JOBS)
	cd $(ASANBUILD) && QT_QPA_PLATFORM=offscreen $(SANITIZER_ENV) \
	    ctest --output-on-failure -j $(JOBS)
asan: asan-test

# The random-input driver under libFuzzer (clang, with both sanitizers) for
# FUZZ_SECONDS; inputs it finds are kept in $(FUZZBUILD)/corpus, failures as
# crash-* files in $(FUZZBUILD).
fuzz: deps
	@[ -f $(FUZZBUILD)/CMakeCache.txt ] || CC=clang CXX=clang++ cmake -S . -B $(FUZZBUILD) \
	    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSLABIX_SANITIZE=ON -DSLABIX_FUZZ=ON -DSLABIX_BENCH=OFF
	cmake --build $(FUZZBUILD) -j $(JOBS) --target slabix_fuzz
	@mkdir -p $(FUZZBUILD)/corpus
	@# A few random inputs of some hundred events to start from, so whole
	@# games are played early.
	@[ -n "$$(ls -A $(FUZZBUILD)/corpus)" ] || for i in 1 2 3 4; do \
	    head -c 400 /dev/urandom > $(FUZZBUILD)/corpus/start-$$i; done
	@# Leaks are the leak session's to find (see asan-test); here the driver's
	@# kept view and drawings would only make every input run twice.
	cd $(FUZZBUILD) && QT_QPA_PLATFORM=offscreen $(SANITIZER_ENV) \
	    ./tests/slabix_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -timeout=30 -rss_limit_mb=4096 \
	    -detect_leaks=0 -print_final_stats=1 corpus

# The whole suite again as on Debian 13 (trixie): a root made once from
# Debian's packages and kept in $(DEBIAN13_ROOT), the committed tree cloned
# into it, make test run there as root (tools/debian13-root.sh).
DEBIAN13_ROOT ?= $(BUILD)/debian13-root
.PHONY: test-debian13
test-debian13:
	$(if $(filter 0,$(shell id -u)),,sudo) env JOBS=$(JOBS) DEPS_TARGET=deps \
	    tools/debian13-root.sh test $(DEBIAN13_ROOT) .

clean:
	rm -rf $(BUILD) $(ASANBUILD) $(FUZZBUILD)
