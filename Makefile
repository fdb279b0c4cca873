# The two commands a newcomer needs; each does all the set-up on a fresh Debian 12 machine.
#   make run   opens Ostrel (under Wine here), or shows a recorded demo when there is no display
#   make test  installs, builds both presets and the host checks, and runs every test

.PHONY: run test build build-host build-linux bootstrap clean

bootstrap:
	./scripts/bootstrap.sh

# The shipped 32-bit program first: the x86_64 configuration audits it.
build: bootstrap
	cmake --preset win32
	cmake --build --preset win32
	cmake --preset win64
	cmake --build --preset win64

# The registry reader built for this machine, under sanitizers, with its fuzz target.
build-host: bootstrap
	cmake --preset host-asan
	cmake --build --preset host-asan

# The native Linux command that reads Wine and Proton prefixes, with its tests.
build-linux: bootstrap
	cmake --preset linux
	cmake --build --preset linux

run: build
	./scripts/run.sh

test: build build-host build-linux
	./scripts/test.sh

clean:
	rm -rf build
