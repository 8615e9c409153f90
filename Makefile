# Thin wrapper over CMake. `make run` and `make check` install what a fresh
# Debian machine lacks (when run as root), so they are the whole set-up.

PREFIX ?= /usr/local
BUILD ?= build
CHECK_BUILD ?= build-check
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
DEB = quorel_$(shell sed -n 's/^\#define MIVO_VERSION "\(.*\)"$$/\1/p' common/version.h)_$(shell \
      dpkg --print-architecture).deb
DEPS = cmake g++ make pkg-config libncurses-dev ncurses-bin ncurses-term libpcre2-dev \
       zlib1g-dev libbz2-dev liblzma-dev libzstd-dev \
       libsource-highlight-dev libsource-highlight-common \
       libvterm-dev libgtest-dev libgmock-dev gzip bzip2 xz-utils zstd dpkg-dev
# The fuzz targets need clang with libFuzzer, the interactive fuzzer Python;
# without them make check skips the fuzz replay instead of failing.
FUZZ_DEPS = clang libclang-rt-dev python3

.PHONY: all deps fuzz-deps build run check fuzz install deb bench clean

all: build

# Install the Debian packages of $(1) that are missing, when run as root;
# otherwise name them and go on with $(2): exit 1 where they are needed,
# true where their absence only skips something.
define install_missing
	@missing=""; \
	for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "missing Debian packages:$$missing (run as root, or apt-get install them)"; $(2); \
	  fi; \
	fi
endef

deps:
	$(call install_missing,$(DEPS),exit 1)

fuzz-deps:
	$(call install_missing,$(FUZZ_DEPS),true)

# The help file's path follows the prefix (an empty QUOREL_HELP_FILE), so
# that `make deb` and `make install` can take turns on one build directory.
build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$(PREFIX) \
	  -DQUOREL_HELP_FILE= -DBUILD_TESTING=OFF
	cmake --build $(BUILD) -j$(JOBS)

run: build
	./$(BUILD)/quorel README.md

# A separate build under the address and undefined-behaviour sanitizers;
# any report aborts the program and so fails its test. Then the fuzz
# targets replay their seeds and every saved crash input once.
check: build fuzz-deps
	tests/layers/check
	$(MAKE) --no-print-directory deb
	tests/package/check $(DEB)
	cmake -S . -B $(CHECK_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUOREL_SANITIZE=ON
	cmake --build $(CHECK_BUILD) -j$(JOBS)
	cd $(CHECK_BUILD) && \
	  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -j$(JOBS) --timeout 300
	JOBS=$(JOBS) tests/fuzz/run replay $(FUZZ_BUILD)

# Every libFuzzer target, then the interactive fuzzer on the sanitized
# viewer, FUZZ_SECONDS each; findings are saved under $(FUZZ_BUILD).
fuzz: deps fuzz-deps
	cmake -S . -B $(CHECK_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUOREL_SANITIZE=ON
	cmake --build $(CHECK_BUILD) -j$(JOBS) --target quorel
	@status=0; \
	JOBS=$(JOBS) tests/fuzz/run fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS) || status=1; \
	tests/fuzz/interactive --viewer $(CHECK_BUILD)/quorel --seconds $(FUZZ_SECONDS) \
	  --out $(FUZZ_BUILD)/interactive || status=1; \
	exit $$status

install: build
	cmake --install $(BUILD)

# The Debian package, from the release build configured again for /usr:
# only the module that knows the help file's path is compiled again.
deb: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
	  -DQUOREL_HELP_FILE= -DBUILD_TESTING=OFF
	cmake --build $(BUILD) -j$(JOBS)
	package/deb $(BUILD) .

# Every benchmark always runs; the target fails if any missed a goal.
bench: build
	cmake --build $(BUILD) --target pty_time store_floor
	@status=0; \
	bench/copy ./$(BUILD)/quorel || status=1; \
	bench/linenum ./$(BUILD)/quorel ./$(BUILD)/pty_time ./$(BUILD)/store_floor || status=1; \
	bench/pipe ./$(BUILD)/quorel ./$(BUILD)/pty_time ./$(BUILD)/store_floor || status=1; \
	bench/search ./$(BUILD)/quorel ./$(BUILD)/pty_time || status=1; \
	bench/colour ./$(BUILD)/quorel ./$(BUILD)/pty_time || status=1; \
	bench/decompress ./$(BUILD)/quorel ./$(BUILD)/pty_time ./$(BUILD)/store_floor || status=1; \
	bench/filter ./$(BUILD)/quorel ./$(BUILD)/pty_time || status=1; \
	bench/start ./$(BUILD)/quorel ./$(BUILD)/pty_time || status=1; \
	bench/paging ./$(BUILD)/quorel ./$(BUILD)/pty_time || status=1; \
	bench/syntax ./$(BUILD)/quorel ./$(BUILD)/pty_time || status=1; \
	bench/scale ./$(BUILD)/quorel ./$(BUILD)/pty_time || status=1; \
	bench/follow ./$(BUILD)/quorel ./$(BUILD)/pty_time || status=1; \
	bench/columns ./$(BUILD)/quorel ./$(BUILD)/pty_time || status=1; \
	exit $$status

clean:
	rm -rf $(BUILD) $(CHECK_BUILD) $(FUZZ_BUILD)
