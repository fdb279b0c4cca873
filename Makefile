# The two commands a newcomer needs; each does all the set-up on a fresh Debian 12 machine.
#   make run   opens Ostrel (under Wine here), or shows a recorded demo when there is no display
#   make test  installs, builds both presets and runs every test under a virtual display

.PHONY: run test build bootstrap clean

bootstrap:
	./scripts/bootstrap.sh

build: bootstrap
	cmake --preset win32
	cmake --build --preset win32
	cmake --preset win64
	cmake --build --preset win64

run: build
	./scripts/run.sh

test: build
	./scripts/test.sh

clean:
	rm -rf build
