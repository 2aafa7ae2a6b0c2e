# dbg32: the two commands a user needs, and a few more.
#   make run   set up what is missing, build, start dbg32.exe under Wine on the sample
#   make test  set up what is missing, build every preset, run every test
.PHONY: run test soak fuzz setup build build-win32 build-host build-host-tsan bench clean dist \
	install need-32bit tests-zip

export WINEPREFIX := $(CURDIR)/build/wineprefix
export WINEDEBUG := -all

run: wanted = start dbg32.exe under Wine on the sample program
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
soak: wanted = run the soak sessions under Wine
soak: need-32bit build-win32 build-host
	DBG32_SOAK_COMMANDS=20000 DBG32_SOAK_RESTARTS=500 ctest --preset host -R SoakE2e

# The whole program under Wine: event-loop overhead, launch time, console latency, memory.
bench: wanted = run the benchmarks under Wine
bench: need-32bit build-win32
	scripts/bench --no-build

# The release zip and Debian package from a clean Release build of the last commit, each
# built twice and compared: build/dist/package/.
dist: setup
	scripts/dist

# The end-to-end tests for any Windows: build/win32/tests-package/dbg32-tests-VERSION-win32.zip,
# unpacked beside it; run-tests.cmd in it runs them all.
tests-zip: build-win32
	cmake --build --preset win32 --target tests_zip

# dbg32 for Wine under PREFIX: the launcher PREFIX/bin/dbg32, the programs, the guide and the
# manual page. Building the Windows programs needs no 32-bit support; running them does.
PREFIX ?= /usr/local
install: build-win32
	cmake --install build/win32 --prefix "$(PREFIX)" --strip

# The targets that run Wine stop here first, on a machine that cannot run 32-bit programs,
# with the probe's paragraph and what they could not do. The probe asks Wine, so a fresh
# machine gets it installed first.
need-32bit:
	@command -v wine >/dev/null || scripts/bootstrap
	@scripts/check-32bit --for make || { \
		echo "make: could not $(wanted) here." >&2; \
		echo "What works here is 'make test': it builds every preset, runs every test that needs" >&2; \
		echo "no 32-bit programs, and says which tests it skipped." >&2; \
		exit 1; }

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
