# Front door: `make run` and `make test` install what is missing, build and go.
BUILD   ?= build
NATIVE  := $(BUILD)/native
WIN     := $(BUILD)/win
JOBS    ?= 2
XVFB    := xvfb-run -a -s "-screen 0 1280x1024x24"
export WINEPREFIX := $(abspath $(WIN))/wineprefix

.PHONY: all deps native win dist run test test-native test-win check-clang bench soak package screenshots clean

all: dist

deps:
	@bash scripts/install-deps.sh

native: deps
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build $(NATIVE) -j$(JOBS)

win: deps
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(WIN) -j$(JOBS)

# The install tree: the supervisor with its agent in bin\ beside it.
dist: win
	rm -rf dist && mkdir -p dist/bin
	cp $(WIN)/out/QuorvelTollvane.exe dist/
	cp $(WIN)/out/bin/Tollvane.exe dist/bin/
	@echo "dist/ holds QuorvelTollvane.exe and bin/Tollvane.exe"

run: dist
	@bash scripts/run.sh dist/QuorvelTollvane.exe $(BUILD)/screenshot.png

test-native: native
	ctest --test-dir $(NATIVE) --output-on-failure -j$(JOBS)

test-win: win
	@bash scripts/wine-prefix.sh
	$(XVFB) bash scripts/ctest-wine.sh $(WIN)

check-clang: deps
	@bash scripts/clang-check.sh

test: test-native test-win check-clang

# Figures and long drills, under Wine in a virtual display (see docs/performance.md).
WINE_UP := wineserver -p; WINEDEBUG=-all wine cmd /c exit >/dev/null 2>&1 </dev/null
bench: win
	@bash scripts/wine-prefix.sh
	$(XVFB) bash scripts/bench.sh $(WIN)

soak: win
	@bash scripts/wine-prefix.sh
	TOLLVANE_SOAK=1 $(XVFB) bash -c '$(WINE_UP); bash scripts/wine-run.sh $(WIN)/out/e2e_tests.exe --gtest_filter="Drill*"; rc=$$?; wineserver -k; exit $$rc'

screenshots: dist
	@bash scripts/screenshots.sh

package: dist
	@bash scripts/package.sh

clean:
	rm -rf $(BUILD) dist
