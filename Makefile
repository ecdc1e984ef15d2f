# Two commands do all the set-up on a fresh Debian 12 machine:
#   make run   install what is missing, build, start the game
#   make test  install what is missing, build, run every test through CTest
BUILD    ?= build
ASANBUILD ?= build-asan
JOBS     ?= $(shell nproc)
PACKAGES := build-essential cmake pkg-config qt6-base-dev qt6-multimedia-dev libqt6svg6 \
            libgtest-dev libgmock-dev libbenchmark-dev fonts-liberation2 \
            xvfb xauth openbox xdotool x11-utils x11-apps imagemagick poppler-utils \
            appstream desktop-file-utils dpkg-dev file
SUDO     := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build run test bench asan clean

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

clean:
	rm -rf $(BUILD) $(ASANBUILD)
