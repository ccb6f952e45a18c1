# Thin wrappers; both targets install missing Debian packages first.
.PHONY: run test build

build:
	scripts/install-deps
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build -j $$(nproc)

run:
	scripts/run

test:
	scripts/test
