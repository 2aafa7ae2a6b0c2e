# dbg32: the two commands a user needs, and a few more.
#   make run   set up what is missing, build, start dbg32.exe under Wine on the sample
#   make test  set up what is missing, build every preset, run every test
.PHONY: run test soak fuzz setup build build-win32 build-host build-host-tsan bench clean dist

export WINEPREFIX := $(CURDIR)/build/wineprefix
export WINEDEBUG := -all

run: build-win32
	@scripts/show-sample-symbols build/win32/targets/sample.sym
	cd build/win32 && wine dbg32.exe targets/sample.exe

test: build
	ctest --preset host
	ctest --preset host-tsan
	scripts/fuzz 3

# Each fuzz target for a minute, from its seeds and what earlier runs found.
fuzz: setup
	scripts/fuzz 60

# The long soak: thousands of mixed commands and hundreds of restarts under Wine.
soak: build-win32 build-host
	DBG32_SOAK_COMMANDS=20000 DBG32_SOAK_RESTARTS=500 ctest --preset host -R SoakE2e

# The whole program under Wine: event-loop overhead, launch time, console latency, memory.
bench: build-win32
	scripts/bench --no-build

# The release zip from a clean Release build, built twice and compared: build/dist/package/.
dist: setup
	scripts/dist

setup:
	@scripts/bootstrap

build: build-win32 build-host build-host-tsan

build-win32: setup
	cmake --preset win32 >/dev/null
	cmake --build --preset win32

build-host: setup
	cmake --preset host >/dev/null
	cmake --build --preset host

build-host-tsan: setup
	cmake --preset host-tsan >/dev/null
	cmake --build --preset host-tsan

clean:
	rm -rf build/win32 build/host build/host-tsan build/dist build/dist-check
