# Front door: `make run` and `make test` install what is missing, build and go.
#
# Two Windows builds come from one tree: win32 (i686, in build/win) and win64
# (x86-64, in build/win64). ARCH=win32 or ARCH=win64 picks the one that runs;
# left empty, scripts/wine-env.sh picks what this machine executes: the
# 32-bit build where the kernel runs 32-bit programs, the 64-bit one where it
# does not (and says so in one line).
BUILD   ?= build
NATIVE  := $(BUILD)/native
JOBS    ?= 2
XVFB    := xvfb-run -a -s "-screen 0 1280x1024x24"
ARCH    ?=

DIR_win32       := $(BUILD)/win
DIR_win64       := $(BUILD)/win64
TOOLCHAIN_win32 := cmake/mingw-i686.cmake
TOOLCHAIN_win64 := cmake/mingw-x86_64.cmake
DIST_win32      := dist
DIST_win64      := dist-x64

# Runs after deps: the probe needs the 32-bit loader that wine32 brings. deps
# says once, at the start, when this machine cannot run the 32-bit build.
RESOLVE  = TOLLVANE_ARCH=$(ARCH) bash scripts/wine-env.sh --resolve --quiet
# Wine commands below run with the loader, server and prefix of one build.
WINE_SH  = . scripts/wine-env.sh && tollvane_prefix && tollvane_wine_up

.PHONY: all deps native win win32 win64 win32-exe dist dist-win32 dist-win64 run \
        test test-native test-win check-pe check-clang check-rooms bench soak package screenshots clean

all: dist

# Once per `make`: the recursive makes below find it done.
deps:
ifeq ($(MAKELEVEL),0)
	@bash scripts/install-deps.sh
	@TOLLVANE_ARCH=$(ARCH) bash scripts/wine-env.sh --resolve >/dev/null || true
endif

native: deps
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build $(NATIVE) -j$(JOBS)

configure-%: deps
	cmake -S . -B $(DIR_$*) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN_$*) -DCMAKE_BUILD_TYPE=Release >/dev/null

win32 win64: %: configure-%
	cmake --build $(DIR_$*) -j$(JOBS)

win: win32

# Only what ships of the 32-bit build: enough to check it where it cannot run.
win32-exe: configure-win32
	cmake --build $(DIR_win32) -j$(JOBS) --target QuorvelTollvane Tollvane

# The install trees: the supervisor with its agent in bin\ beside it.
dist-win32 dist-win64: dist-%: %
	rm -rf $(DIST_$*) && mkdir -p $(DIST_$*)/bin
	cp $(DIR_$*)/out/QuorvelTollvane.exe $(DIST_$*)/
	cp $(DIR_$*)/out/bin/Tollvane.exe $(DIST_$*)/bin/
	@echo "$(DIST_$*)/ holds QuorvelTollvane.exe and bin/Tollvane.exe ($*)"

dist: dist-win32 dist-win64

run: deps
	@arch=$$($(RESOLVE)) && $(MAKE) --no-print-directory run-$$arch

run-win32 run-win64: run-%: dist-%
	@TOLLVANE_ARCH=$* bash scripts/run.sh $(DIST_$*)/QuorvelTollvane.exe $(BUILD)/screenshot.png

test-native: native
	ctest --test-dir $(NATIVE) --output-on-failure -j$(JOBS)

test-win: deps
	@arch=$$($(RESOLVE)) && $(MAKE) --no-print-directory test-win-$$arch

test-win-win32 test-win-win64: test-win-%: %
	TOLLVANE_ARCH=$* $(XVFB) bash scripts/ctest-wine.sh $(DIR_$*)

# What can be checked of the 32-bit product without running it, on every
# machine; the 64-bit supervisor too when it has been built.
check-pe: win32-exe
	@bash scripts/check-pe.sh $(DIR_win32)/out/QuorvelTollvane.exe $(DIR_win32)/out/bin/Tollvane.exe
	@if [ -f $(DIR_win64)/out/QuorvelTollvane.exe ]; then \
	  bash scripts/check-pe.sh $(DIR_win64)/out/QuorvelTollvane.exe $(DIR_win64)/out/bin/Tollvane.exe; fi

check-clang: configure-win32
	@bash scripts/clang-check.sh $(DIR_win32)

# Every include against the room table of docs/architecture.md.
check-rooms:
	@python3 scripts/check-rooms.py .

test: check-rooms test-native test-win check-pe check-clang

# Figures and long drills, under Wine in a virtual display (see docs/performance.md).
bench: deps
	@arch=$$($(RESOLVE)) && $(MAKE) --no-print-directory bench-$$arch

bench-win32 bench-win64: bench-%: %
	TOLLVANE_ARCH=$* $(XVFB) bash scripts/bench.sh $(DIR_$*)

soak: deps
	@arch=$$($(RESOLVE)) && $(MAKE) --no-print-directory soak-$$arch

soak-win32 soak-win64: soak-%: %
	TOLLVANE_SOAK=1 TOLLVANE_ARCH=$* $(XVFB) bash -c '$(WINE_SH); bash scripts/wine-run.sh $(DIR_$*)/out/e2e_tests.exe --gtest_filter="Drill*"; rc=$$?; tollvane_wine_down; exit $$rc'

screenshots: deps
	@arch=$$($(RESOLVE)) && $(MAKE) --no-print-directory dist-$$arch && TOLLVANE_ARCH=$$arch bash scripts/screenshots.sh

package: dist
	@bash scripts/package.sh win32 $(DIST_win32)
	@bash scripts/package.sh x64 $(DIST_win64)

# The per-user installers of both builds (installer/, scripts/build-installer.sh).
.PHONY: installer
installer: dist
	@bash scripts/build-installer.sh win32 $(DIST_win32)
	@bash scripts/build-installer.sh x64 $(DIST_win64)

clean:
	rm -rf $(BUILD) $(DIST_win32) $(DIST_win64)
