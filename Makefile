# The two commands of a new machine: `make demo` and `make test`. Both install what is missing
# first (scripts/install-deps), then configure and build with CMake presets (Ninja).
JOBS ?= 2

.PHONY: all deps build demo demo-gui screenshot test asan release-builds fuzz bench package \
	check-package clean

all: build

deps:
	./scripts/install-deps

build: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j$(JOBS)

demo: build
	./scripts/demo

# The demo project in the desktop application, with the virtual instrument as its MIDI port.
demo-gui: demo
	./build/release/src/cardmill-gui --config-dir build/release/examples/config \
		build/release/examples/demo.cmr

# The manual's pictures of the main window, Voice Info and Sample Info, drawn offscreen from the
# demo project.
screenshot: demo
	QT_QPA_PLATFORM=offscreen ./build/release/src/cardmill-gui --no-splash \
		--config-dir build/release/examples/config \
		--screenshot docs/main-window.png --voice-screenshot docs/voice-info.png \
		--sample-screenshot docs/sample-info.png build/release/examples/demo.cmr

test: build
	ctest --preset release -j$(JOBS)

# The core's and the desktop application's tests once more under AddressSanitizer and
# UndefinedBehaviorSanitizer.
asan: deps
	cmake --preset asan-ubsan >/dev/null
	cmake --build --preset asan-ubsan -j$(JOBS) --target cardmill_tests cardmill_gui_tests fuzz_replays
	ctest --preset asan-ubsan -j$(JOBS) -E '^(e2e|acceptance)\.'

# The plain Release type as a packager builds it, with each compiler; warnings fail it here.
release-builds: deps
	for cxx in g++ clang++; do \
		cmake -S . -B build/plain-release-$$cxx -G Ninja -DCMAKE_BUILD_TYPE=Release \
			-DCMAKE_CXX_COMPILER=$$cxx -DCARDMILL_WERROR=ON >/dev/null && \
		cmake --build build/plain-release-$$cxx -j$(JOBS) || exit 1; \
	done

# libFuzzer runs: make fuzz TARGET=wav SECONDS=300
fuzz: deps
	./scripts/fuzz $(TARGET) $(SECONDS)

bench: build
	./scripts/bench

# The Debian package build/package/cardmill_<version>_<arch>.deb. Its files carry the time of the
# last commit, so that the same sources make the same bytes.
package: deps
	cmake --preset package >/dev/null
	cmake --build --preset package -j$(JOBS)
	cd build/package && SOURCE_DATE_EPOCH=$$(git log -1 --format=%ct) cpack -G DEB

# The package checked as a new user would meet it: lintian, twice made the same, installed with
# apt into a fresh Debian 12 (debootstrap), used, removed.
check-package: package
	./scripts/check-package build/package/cardmill_*.deb

clean:
	rm -rf build
