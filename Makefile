# Conflict markers that a merge left in this Makefile would stop make with "missing separator" at
# the first of them: this check, read before them, names them instead.
MAKEFILE_MARKERS := $(addprefix $(lastword $(MAKEFILE_LIST)):,$(shell grep -n -E '^(<<<<<<<|[|]{7}|>>>>>>>) [^ ]' $(lastword $(MAKEFILE_LIST)) | cut -d: -f1))
$(if $(MAKEFILE_MARKERS),$(error conflict markers remain in the Makefile ($(MAKEFILE_MARKERS)), which a merge left where both sides changed the same lines: keep what is right in each place, remove the marker lines, then run make again))

# A Bot plugin: `make` builds it for this machine, `make test` checks it, `make install` puts it
# where the host looks for plugins; `make help` lists every command. Override any of these on the
# command line, and CXX, which is make's own (g++ unless the command line or the environment names
# another compiler). CXX and LDFLAGS are for the builds of this machine; the static musl build goes
# through gcc's specs file, so it takes MUSL_CXX, a g++.
PLUGINS_DIR ?= $(HOME)/.dorvanel/plugins
CXXFLAGS    ?= -O2
LDFLAGS     ?=
MUSL_CXX    ?= g++
CROSS       ?= x86_64-w64-mingw32-
ARM64_CROSS ?= aarch64-linux-gnu-
ARMHF_CROSS ?= arm-linux-gnueabihf-
MUSL_SPECS  ?= /usr/lib/x86_64-linux-musl/musl-gcc.specs
ARM64_SPECS ?= /usr/lib/aarch64-linux-musl/musl-gcc.specs
ARMHF_SPECS ?= /usr/lib/arm-linux-musleabihf/musl-gcc.specs
FUZZ_CXX    ?= clang++
FUZZ_SECONDS?= 60
PORT        ?= 8080
SERVE_DIR   ?= .
PASSWORD    ?=

# The plugin's name is the name of its one source file, src/plugin_NAME.cpp: rename that file
# and the executable, the meta and info records, the page's routes and the hints follow.
SOURCE  := $(wildcard src/plugin_*.cpp)
NAME    := $(patsubst src/plugin_%.cpp,%,$(SOURCE))
ifneq ($(words $(SOURCE)),1)
$(error src/ holds $(if $(SOURCE),$(words $(SOURCE)) files named plugin_*.cpp ($(SOURCE)),no file named plugin_*.cpp): the plugin is the one file src/plugin_NAME.cpp, and NAME is its name)
endif
PROGRAM   = plugin_$(NAME)
PLATFORM  = $(wildcard platform/*.h)
FORMATTED = $(SOURCE) $(PLATFORM) checks/fuzz/fuzz_request.cpp checks/debug/sanitizer_options.cpp
GEN       = build/page
INPUTS    = $(SOURCE) $(PLATFORM) $(GEN)/page.inc Makefile
VERSION   = $(shell sed -n 's/^\#define PLUGIN_VERSION "\(.*\)"$$/\1/p' $(SOURCE))

# The program uses only header-only parts of the C++ library, so it links against the C library
# alone: no exceptions, no RTTI, and libstdc++ dropped at link time.
LANGUAGE = -std=c++20 -fno-exceptions -fno-rtti -Iplatform -I$(GEN) -DPLUGIN_NAME='"$(NAME)"'
WARNINGS = -Wall -Wextra -Wpedantic -Wshadow
COMPILE  = $(LANGUAGE) $(WARNINGS) $(CXXFLAGS)

# One flag group per target. The static Linux builds (musl, arm64, armhf) and the Windows build are
# static and stripped: they are made to be copied to other nodes. The link layout, for a process
# that lives some sixty microseconds (docs/performance.md): code and constants in one load segment
# (-z noseparate-code), static data in one page (-z norelro). The native link's options are a
# speed-up, not a requirement: each is given where the linker of this compiler takes it.
LAYOUT       = -Wl,-z,noseparate-code,-z,norelro
NATIVE_LINK  = $(shell CXX='$(CXX)' CXXFLAGS='$(CXXFLAGS)' LDFLAGS='$(LDFLAGS)' tools/build/link-options -Wl,--as-needed $(LAYOUT))
# The static Linux builds start without a C library, through the platform layer's own entry point
# and system calls (platform/linux.h). musl's headers (musl-dev of each architecture ships the specs
# file that points the compiler at them) declare what the program calls, standing in for glibc's
# under the C++ library's own, whose glibc version test is answered "no"; nothing of musl is
# linked, and libgcc gives the arithmetic a processor lacks. No stack protector, whose canary lives
# in the thread area only a C library sets up; not position-independent, so that tables of pointers
# lie among the constants.
NO_LIBC      = -DPLATFORM_NO_LIBC -fno-stack-protector -fno-pie -static -nostdlib -no-pie -s $(LAYOUT) -lgcc
cxx_headers  = $(shell $(1) -xc++ -E -v - </dev/null 2>&1 | sed -n 's,^ \(/.*/c++/.*\),-isystem \1,p')
static_flags = -specs $(1) $(call cxx_headers,$(2)) '-D__GLIBC_PREREQ(major,minor)=0' $(NO_LIBC)
# x86-64: the static data starts a page of its own, and the output buffer (over 16 KiB) goes after
# the rest, so that the few variables a run writes share one page with the start of the buffer,
# whatever the length of the code: a JSON answer of a few KiB touches one page of data.
MUSL_FLAGS   = $(call static_flags,$(MUSL_SPECS),$(MUSL_CXX)) -mcmodel=medium -mlarge-data-threshold=16384 -Wl,-Tbss=0x10000000
ARM64_FLAGS  = $(call static_flags,$(ARM64_SPECS),$(ARM64_CROSS)g++)
ARMHF_FLAGS  = $(call static_flags,$(ARMHF_SPECS),$(ARMHF_CROSS)g++)
# Windows: no link time stamp in the executable, so that the same source gives the same bytes.
WIN64_FLAGS  = -static -s -Wl,--no-insert-timestamp

# The sanitizer twin and the fuzzer need no change to the program: the twin links in only the
# sanitizers' start-up options, and the fuzzer includes the source with main, stdout and exit
# redirected to itself.
SANITIZE   = -O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all
FUZZ_FLAGS = -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
             -DPLUGIN_SOURCE='"../../$(SOURCE)"'
FUZZER     = build/fuzz_request

# $(call need,command or file): stops the target when it is missing, naming the Debian package
# that tools/install-deps installs for it.
need = @{ test -e "$(1)" || command -v "$(1)"; } >/dev/null || \
	{ echo "make: $@ needs $(1); install the Debian package $$(tools/install-deps --package-of '$(1)')" >&2; exit 1; }
# $(call build,compiler,sources and flags,command or file it needs)
define build
$(call need,$(3))
$(1) $(COMPILE) -o $@ $(2)
endef

all: $(PROGRAM)
musl: $(PROGRAM)-musl
arm64: $(PROGRAM)-arm64
armhf: $(PROGRAM)-armhf
win64: $(PROGRAM).exe
debug: $(PROGRAM)-debug

# Conflict markers that a merge left behind stop every build, the golden answers and the tests,
# naming the file and line (tools/fork/markers); make update refuses to start on them too.
$(PROGRAM): $(INPUTS) | markers
	$(call build,$(CXX),$(SOURCE) $(NATIVE_LINK) $(LDFLAGS),$(CXX))
$(PROGRAM)-musl: $(INPUTS) | markers
	$(call need,$(MUSL_CXX))
	$(call build,$(MUSL_CXX),$(SOURCE) $(MUSL_FLAGS),$(MUSL_SPECS))
$(PROGRAM)-arm64: $(INPUTS) | markers
	$(call need,$(ARM64_CROSS)g++)
	$(call build,$(ARM64_CROSS)g++,$(SOURCE) $(ARM64_FLAGS),$(ARM64_SPECS))
$(PROGRAM)-armhf: $(INPUTS) | markers
	$(call need,$(ARMHF_CROSS)g++)
	$(call build,$(ARMHF_CROSS)g++,$(SOURCE) $(ARMHF_FLAGS),$(ARMHF_SPECS))
$(PROGRAM).exe: $(INPUTS) | markers
	$(call build,$(CROSS)g++,$(SOURCE) $(WIN64_FLAGS),$(CROSS)g++)
$(PROGRAM)-debug: $(INPUTS) checks/debug/sanitizer_options.cpp | markers
	$(call build,$(CXX),$(SOURCE) checks/debug/sanitizer_options.cpp $(SANITIZE) $(LDFLAGS),$(CXX))
$(FUZZER): checks/fuzz/fuzz_request.cpp $(INPUTS) | markers
	$(call build,$(FUZZ_CXX),checks/fuzz/fuzz_request.cpp $(FUZZ_FLAGS),$(FUZZ_CXX))
markers:
	@tools/fork/markers

# The page's texts: each file of src/page/ as a text of page.inc, which the page writer sends.
$(GEN)/page.inc: $(wildcard src/page/*) src/page $(SOURCE) tools/build/page-texts
	@mkdir -p $(@D)
	@tools/build/page-texts $(SOURCE) > $@.new && mv $@.new $@ || { rm -f $@.new; exit 1; }

# What the fuzzer finds, and any failing input (build/fuzz-crash-*), stays in build/.
fuzz: $(FUZZER)
	@mkdir -p build/fuzz-corpus
	$(FUZZER) -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=4096 -print_final_stats=1 \
		-dict=checks/fuzz/request.dict -artifact_prefix=build/fuzz- build/fuzz-corpus checks/fuzz/corpus

# The static musl build where musl-tools is installed, the fastest; the native one otherwise.
FASTEST   = $(wildcard $(MUSL_SPECS))
INSTALLED = $(if $(FASTEST),$(PROGRAM)-musl,$(PROGRAM))
install: $(INSTALLED)
	mkdir -p $(DESTDIR)$(PLUGINS_DIR)
	install -m 755 -s $(INSTALLED) $(DESTDIR)$(PLUGINS_DIR)/$(PROGRAM)
	@echo "install: installed the $(if $(FASTEST),static musl build,native build)"
	@$(if $(FASTEST),:,echo "install: for the faster static musl build, apt-get install musl-tools and make install again")
uninstall:
	rm -f $(DESTDIR)$(PLUGINS_DIR)/$(PROGRAM)

# Each node's executable named by version, system and architecture, the contract checker as one
# file that needs only Node.js, and their checksums: the same source gives the same bytes.
DIST = dist/$(PROGRAM)-$(VERSION)
dist: $(PROGRAM)-musl $(PROGRAM)-arm64 $(PROGRAM)-armhf $(PROGRAM).exe
	rm -rf dist
	mkdir -p dist
	cp $(PROGRAM)-musl $(DIST)-linux-x86_64
	cp $(PROGRAM)-arm64 $(DIST)-linux-aarch64
	cp $(PROGRAM)-armhf $(DIST)-linux-armhf
	cp $(PROGRAM).exe $(DIST)-windows-x86_64.exe
	node tools/contract/bundle.js dist/plugin-contract.js
	cd dist && sha256sum $(PROGRAM)-* plugin-contract.js > SHA256SUMS

# make test [RUNS='native browser'] [INSTALL_DEPS=no]: installs what the checks need, then runs
# them all, each run even when another fails (tools/runner/run-tests.js, docs/checks.md).
RUNS      ?=
TEST_LOGS ?= build/test
test: | markers
	@tools/install-deps runner
	@PROGRAM='$(PROGRAM)' FORMATTED='$(FORMATTED)' FUZZER='$(FUZZER)' RUNS='$(RUNS)' TEST_LOGS='$(TEST_LOGS)' \
	MAKE='$(MAKE)' tools/runner/run-tests.js

# make contract [PLUGIN=path] [FORMAT=text|json|junit|tap] [STRICT=1] [MAX_COST=ratio], without
# PLUGIN this plugin's native build. The values reach the checker through the environment, the
# path as typed, never expanded by make or a shell.
unexport PLUGIN
contract: export CONTRACT_PLUGIN = $(or $(value PLUGIN),./$(PROGRAM))
contract: $(if $(value PLUGIN),,$(PROGRAM))
	@case "$$STRICT" in ''|0) strict= ;; 1) strict=--strict ;; \
	*) echo "make contract: STRICT is 1 (on) or 0 (off), not \"$$STRICT\"" >&2; exit 2 ;; esac; \
	tools/contract/contract.js $${FORMAT:+--format "$$FORMAT"} $$strict $${MAX_COST:+--max-cost "$$MAX_COST"} \
		-- "$$CONTRACT_PLUGIN"

format:
	clang-format -i $(FORMATTED)
golden: $(PROGRAM) | markers
	tools/author/golden.js

# make serve [PORT=] [PASSWORD=]: the password goes through the environment as typed, never
# expanded by make or a shell, nor echoed; unexported, it reaches no other recipe.
unexport PASSWORD
serve: export BOT_PASSWORD = $(value PASSWORD)
serve:
	tools/author/serve.js --port $(PORT) --plugins $(SERVE_DIR) --watch .
screenshots: $(PROGRAM)
	tools/author/screenshots.js docs
bench: $(PROGRAM) $(PROGRAM)-musl
	PROGRAM='$(PROGRAM)' tools/measure/bench.js
fork:
	@tools/fork/fork.js "$$NAME" "$$DIR" $${REPO:+"$$REPO"}

# The update is this Makefile's, so that a fork made by the earlier make fork, which has none,
# takes its first update with make -f KIT/Makefile update (docs/updating.md).
KIT := $(dir $(firstword $(MAKEFILE_LIST)))
update:
	@$(KIT)tools/fork/update.js $${FROM:+--from "$$FROM"} $${TO:+--to "$$TO"} $(if $(filter-out 0,$(CHECK)),--check)

# The commands, as make help prints them.
##make                                 builds ./plugin_NAME for this machine
##make test [RUNS=...]                 installs what is missing, builds and runs every check
##make golden                          rewrites the golden answers in test/golden/ and shows what changed
##make format                          formats the C++ sources as make test checks them
##make serve [PORT=] [PASSWORD=]       the page through a local stand-in host that rebuilds on save
##make screenshots                     retakes the pictures of the page in docs/
##make fork NAME= DIR= [REPO=]         a fork of the plugin, with its history, under a name of its own
##make update [FROM=] [TO=] [CHECK=1]  takes the upstream's later work into a fork, with git's merge
##make install, make uninstall         the fastest build this machine makes, into PLUGINS_DIR or out of it
##make musl, arm64, armhf, win64       the builds for other nodes
##make dist                            the release files in dist/: each node's build, the checker, checksums
##make debug                           ./plugin_NAME-debug, built with ASan and UBSan
##make fuzz [FUZZ_SECONDS=60]          fuzzes the request path
##make bench                           times every answer against programs that write the same bytes
##make contract [PLUGIN=] [STRICT=1]   checks any plugin against the host contract
##make help                            lists these commands
##make clean                           removes every build output
help:
	@sed -n 's/^##//p' $(firstword $(MAKEFILE_LIST))
clean:
	rm -rf build dist $(PROGRAM) $(PROGRAM)-musl $(PROGRAM)-arm64 $(PROGRAM)-armhf $(PROGRAM).exe $(PROGRAM)-debug

.PHONY: all musl arm64 armhf win64 debug fuzz markers install uninstall dist test contract format golden \
        serve screenshots bench fork update help clean
