# Two commands do all the set-up on a fresh Debian 12 or 13 machine:
#   make run   install what the game needs, build, start the game
#   make test  install that and the test lab, build, run every test through CTest
BUILD    ?= build
ASANBUILD ?= build-asan
FUZZBUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS     ?= $(shell nproc)

# The Debian packages, each named once. make run installs the first list
# alone; make test, bench, asan-test and fuzz add the second, the test lab.
# tools/packages.sh installs only what is missing, never removes a package,
# and records what it installed for the lab, which make remove-lab takes away.
# Qt's SVG image plugin (the window's icon) comes with libqt6svg6 on Debian 12
# and in a package of its own from Debian 13 on.
DEBIAN_RELEASE := $(shell . /etc/os-release 2>/dev/null && echo $$VERSION_ID)
QT_SVG_PLUGIN  := $(if $(filter 12,$(DEBIAN_RELEASE)),libqt6svg6,qt6-svg-plugins)
RUN_PACKAGES := build-essential cmake pkgconf qt6-base-dev $(QT_SVG_PLUGIN) qt6-wayland fonts-liberation2
RUN_PACKAGES += libpulse-dev  # the sound cues, played on the session's sound server
RUN_PACKAGES += libcups2-dev  # print jobs handed to the print service, and its answer
RUN_PACKAGES += file  # make deb: the package's library dependencies
TEST_PACKAGES := libgtest-dev libgmock-dev libbenchmark-dev python3 poppler-utils  # unit tests, benchmarks; the end-to-end driver; printed pages read back
TEST_PACKAGES += clang libclang-rt-dev  # make fuzz: libFuzzer with the sanitizers
TEST_PACKAGES += appstream desktop-file-utils lintian  # the desktop files and the Debian package checked
TEST_PACKAGES += xvfb openbox icewm i3 xfwm4 xfce4-panel xfconf xdotool x11-utils x11-xserver-utils wmctrl xclip imagemagick  # X desktops; input, window actions, xrandr, message boxes through the clipboard, screenshots
TEST_PACKAGES += weston xwayland mutter sway grim kwin-wayland breeze kwin-style-breeze  # Wayland desktops, natively and through XWayland
TEST_PACKAGES += plasma-wayland-protocols libwayland-dev libxkbcommon-tools  # slabix_wlinput, keys and the mouse under sway and kwin
TEST_PACKAGES += dbus-daemon libglib2.0-bin python3-gi gir1.2-glib-2.0 gstreamer1.0-pipewire gstreamer1.0-plugins-base gstreamer1.0-plugins-good python3-gst-1.0 gir1.2-gstreamer-1.0  # mutter's screen cast and remote input, session buses
TEST_PACKAGES += pipewire pipewire-bin pipewire-pulse wireplumber pulseaudio-utils  # private sound servers, recorded with parec
TEST_PACKAGES += cups-daemon cups-client  # the private print service
# pulseaudio only where installing it removes nothing: a PipeWire desktop's
# pipewire-audio conflicts with it, and the sound checks use pipewire there.
TEST_PACKAGES_IF_FREE := pulseaudio

.PHONY: all deps run-deps remove-lab game configure build run test bench asan asan-test fuzz clean deb

all: game

# The game's packages only.
run-deps:
	@tools/packages.sh install "$(strip $(RUN_PACKAGES))"

# The game's packages and the test lab.
deps:
	@tools/packages.sh install "$(strip $(RUN_PACKAGES))" "$(strip $(TEST_PACKAGES))" "$(strip $(TEST_PACKAGES_IF_FREE))"

# Removes exactly the packages that deps installed for the test lab, and
# nothing that was there before; the build folder then builds the game alone.
remove-lab:
	@tools/packages.sh remove-lab
	@[ ! -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) -DBUILD_TESTING=OFF -DSLABIX_BENCH=OFF

# The game alone (no tests, no benchmarks), unless the build folder is
# already configured with them.
game: run-deps
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DBUILD_TESTING=OFF -DSLABIX_BENCH=OFF
	cmake --build $(BUILD) -j $(JOBS)

# The game with its tests and benchmarks.
configure: deps
	@grep -qs '^BUILD_TESTING:BOOL=ON' $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) \
	    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DSLABIX_BENCH=ON

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: game
	./$(BUILD)/slabix

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	./$(BUILD)/bench/slabix_bench

# A Debian package of the game, $(BUILD)/slabix_<version>_<arch>.deb; install
# it with: sudo apt-get install ./$(BUILD)/slabix_*.deb
deb: game
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
	@# Two fuzzing processes, one a core, on the one corpus; each one's
	@# output and final figures are printed when it ends. Leaks are the leak
	@# session's to find (see asan-test).
	cd $(FUZZBUILD) && QT_QPA_PLATFORM=offscreen $(SANITIZER_ENV) \
	    ./tests/slabix_fuzz -jobs=2 -workers=2 -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -timeout=30 -rss_limit_mb=4096 \
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
