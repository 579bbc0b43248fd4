# Two entry points: `make demo` and `make test`. Both install what is missing first.
PACKAGES := cmake ninja-build g++ make libgtest-dev libgmock-dev libbenchmark-dev \
            libncurses-dev tmux libcli11-dev rapidjson-dev nlohmann-json3-dev
JOBS ?= 2

.PHONY: deps build demo test test-asan test-tsan package clean

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake --preset dev >/dev/null
	cmake --build --preset dev -j $(JOBS)

demo: build
	./build/dev/Plovix-demo

test: build
	ctest --preset dev

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

test-tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

# build/package/plovix_<version>_<arch>.deb; dpkg-shlibdeps (with file) fills in Depends.
package: deps
	@$(MAKE) --no-print-directory deps PACKAGES="dpkg-dev file"
	cmake --preset package >/dev/null
	cmake --build --preset package -j $(JOBS) --target package

clean:
	rm -rf build
