# dbg32: the two commands a user needs, and a few more.
#   make run   set up what is missing, build, start dbg32.exe under Wine on the sample
#   make test  set up what is missing, build every preset, run every test
.PHONY: run test soak fuzz setup build build-win32 build-host build-host-tsan bench clean dist need-32bit

export WINEPREFIX := $(CURDIR)/build/wineprefix
export WINEDEBUG := -all

run: need-32bit build-win32
	@scripts/show-sample-symbols build/win32/targets/sample.sym
	cd build/win32 && wine dbg32.exe targets/sample.exe

# Where Wine cannot run, the tests under it are skipped; the last line says how many and why.
test: build
	ctest --preset host --output-junit junit.xml
	ctest --preset host-tsan --output-junit junit.xml
	scripts/fuzz 3
	@scripts/skipped-tests build/host/junit.xml build/host-tsan/junit.xml

# Each fuzz target for a minute, from its seeds and what earlier runs found.
fuzz: setup
	scripts/fuzz 60

# The long soak: thousands of mixed commands and hundreds of restarts under Wine.
soak: need-32bit build-win32 build-host
	DBG32_SOAK_COMMANDS=20000 DBG32_SOAK_RESTARTS=500 ctest --preset host -R SoakE2e

# The whole program under Wine: event-loop overhead, launch time, console latency, memory.
bench: need-32bit build-win32
	scripts/bench --no-build

# The release zip from a clean Release build, built twice and compared: build/dist/package/.
dist: setup
	scripts/dist

# The targets that run Wine stop here first, with the probe's paragraph, on a machine that
# cannot run 32-bit programs. The probe asks Wine, so a fresh machine gets it installed first.
need-32bit:
	@command -v wine >/dev/null || scripts/bootstrap
	@scripts/check-32bit

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
