# The two commands a newcomer needs; each does all the set-up on a fresh Debian 12 machine.
#   make run   opens Ostrel (under Wine here), or shows a recorded demo when there is no display
#   make screenshot   refreshes docs/ostrel-window.png from that demo
#   make test  installs, builds both presets and the host checks, and runs every test
#   make release  writes dist/: the shipped program's zip and the SHA256SUMS of every file there

.PHONY: run screenshot test build build-host build-linux linux bootstrap clean release

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

linux: build-linux

# Builds only what it runs, not the tests.
run: bootstrap
	./scripts/run.sh

screenshot: bootstrap
	./scripts/run.sh --screenshot

test: build build-host build-linux
	./scripts/test.sh

release: bootstrap
	./scripts/release.sh

clean:
	rm -rf build dist
