# Lunabrik: the two everyday commands are `make run` and `make test`.
.PHONY: all deps build run test test-release test-asan test-tsan bench format clean \
        install uninstall package web

# make install: under PREFIX (default /usr/local), below DESTDIR when set (for packagers).
PREFIX ?= /usr/local
DESTDIR ?=

all: build

deps:
	@scripts/deps.sh

build: deps
	cmake --preset release
	cmake --build --preset release

# The browser build: build/web holds the page; serve it with python3 -m http.server -d build/web
web: deps
	scripts/web.sh

# Only the program and its run folder: tests and benchmarks are built by make test and make bench.
run: deps
	cmake --preset release
	cmake --build --preset release --target lunabrik lunabrik_run_folder
	cd build/release/run && ../shell/lunabrik

test: build web test-release test-asan test-tsan

# The browser test builds its page in build/release/web, with the libraries make web compiled.
test-release:
	LUNABRIK_EMCACHE=$(CURDIR)/build/emcache ctest --preset release

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

install: build
	PREFIX="$(PREFIX)" DESTDIR="$(DESTDIR)" scripts/install.sh install build/release

uninstall:
	PREFIX="$(PREFIX)" DESTDIR="$(DESTDIR)" scripts/install.sh uninstall build/release

# The .deb, build/release/lunabrik_<version>_<arch>.deb: sudo apt install ./build/release/lunabrik_*.deb
package: build
	cmake --build --preset release --target package

bench: build
	cmake --build --preset release --target bench
	bench/run.sh build/release

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
