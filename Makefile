# Shortcuts around CMake. `make example` builds Torvik and assembles the
# shipped example; `make check` builds and runs every test, in a release
# build and in a sanitizer (AddressSanitizer + UBSan) build.
JOBS ?= 2
RELEASE := build/release
SANITIZE := build/sanitize

.PHONY: all example check release sanitize clean

all: release

release:
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE) -j $(JOBS)

sanitize:
	cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug -DTORVIK_SANITIZE=ON
	cmake --build $(SANITIZE) -j $(JOBS)

example: release
	cd examples && ../$(RELEASE)/Torvik hello.asm ../$(RELEASE)/hello.otk
	@echo "object file: $(RELEASE)/hello.otk"

check: release sanitize
	ctest --test-dir $(RELEASE) --output-on-failure -j $(JOBS)
	ctest --test-dir $(SANITIZE) --output-on-failure -j $(JOBS)

clean:
	rm -rf build
