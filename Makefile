# Shortcuts around CMake. `make example` builds Torvik and assembles the
# shipped example; `make check` builds and runs every test: in a release
# build and in a sanitizer (AddressSanitizer + UBSan) build (`make
# check-linux` alone), then the Windows programs under Wine (`make
# check-windows` alone). `make windows` cross-builds the Windows programs
# with MinGW-w64 and `make dist` packs them into a zip.
JOBS ?= 2
RELEASE := build/release
SANITIZE := build/sanitize
WINDOWS := build/windows
WINE ?= /usr/lib/wine/wine64

.PHONY: all example check check-linux release sanitize windows dist check-windows clean

all: release

release:
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE) -j $(JOBS)

sanitize:
	cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug -DTORVIK_SANITIZE=ON
	cmake --build $(SANITIZE) -j $(JOBS)

windows:
	cmake -S . -B $(WINDOWS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WINDOWS) -j $(JOBS)

dist: windows
	cmake --build $(WINDOWS) --target dist

example: release
	cd examples && ../$(RELEASE)/Torvik hello.asm ../$(RELEASE)/hello.otk
	@echo "object file: $(RELEASE)/hello.otk"

check: check-linux check-windows

check-linux: release sanitize
	ctest --test-dir $(RELEASE) --output-on-failure -j $(JOBS)
	ctest --test-dir $(SANITIZE) --output-on-failure -j $(JOBS)

check-windows: release dist
	tests/windows/check.sh $(RELEASE) $(WINDOWS) . $(WINE)

clean:
	rm -rf build
