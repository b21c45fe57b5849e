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
# static and stripped: they are made to be copied to other nodes.
#
# The link layout, for a process that lives some sixty microseconds (measured with make bench):
#   -z noseparate-code  code and constants share one load segment: 2 segments to map, not 4, and
#                       2 page faults fewer
#   -z norelro          static data in one page, not split for a read-only part: 1-2 faults
#                       fewer, and for glibc's loader one mprotect call fewer
# (--build-id=none and -z now were measured too and changed nothing.)
LAYOUT       = -Wl,-z,noseparate-code,-z,norelro
# The native link's options are a speed-up, not a requirement: each is given where the linker of
# this compiler takes it (GNU ld and lld do; Apple's does not), as a one-line link tried once, on
# the first build that needs them.
AS_NEEDED    = -Wl,--as-needed
link_takes   = $(shell mkdir -p build && echo 'int main() { return 0; }' | \
                 $(CXX) $(CXXFLAGS) -x c++ - -o build/link-probe $(1) $(LDFLAGS) >/dev/null 2>&1 && echo '$(1)')
NATIVE_LINK  = $(eval NATIVE_LINK := $(call link_takes,$(AS_NEEDED)) $(call link_takes,$(LAYOUT)))$(NATIVE_LINK)
# The static Linux builds start without a C library, through the platform layer's own entry point
# and system calls (platform/linux.h): a run is the kernel's work and the plugin's, and nothing of
# a C library's start-up. musl's headers declare what the program calls, standing in for glibc's
# under the C++ library's own headers (those of the compiler used), whose glibc version test is
# answered "no"; musl-dev of each architecture ships the specs file that points the compiler at
# them. Nothing of musl is linked; libgcc gives the arithmetic a processor lacks. No stack
# protector, whose canary lives in the thread area that only a C library sets up; not
# position-independent, so that tables of pointers lie among the constants, not in data of their own.
NO_LIBC      = -DPLATFORM_NO_LIBC -fno-stack-protector -fno-pie -static -nostdlib -no-pie -s $(LAYOUT) -lgcc
cxx_headers  = $(shell $(1) -xc++ -E -v - </dev/null 2>&1 | \
                 sed -n 's,^ \(/.*/c++/.*\),-isystem \1,p')
static_flags = -specs $(1) $(call cxx_headers,$(2)) '-D__GLIBC_PREREQ(major,minor)=0' $(NO_LIBC)
# x86-64: data of more than 16 KiB (the output buffer) goes after all other static data, so that
# the few variables a run writes lie in one page, with the start of the buffer: a JSON answer of a
# few KiB touches one page of data, not two or three.
MUSL_FLAGS   = $(call static_flags,$(MUSL_SPECS),$(MUSL_CXX)) -mcmodel=medium -mlarge-data-threshold=16384
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

# $(call need,command or file,what provides it): stops the target when it is missing, naming the
# Debian package that tools/check/install-deps installs for it.
need = @{ test -e "$(1)" || command -v "$(1)"; } >/dev/null || \
	{ echo "make: $@ needs $(1); install the Debian package $$(tools/check/install-deps --package-of '$(1)')" >&2; exit 1; }

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

# Conflict markers that a merge left behind stop every build, the golden answers and the tests,
# naming the file and line; make update refuses to start on them too.
markers:
	@tools/check/markers

# Fuzzes the request path for FUZZ_SECONDS from the seeds in checks/fuzz/corpus/; what it finds,
# and any failing input (build/fuzz-crash-*), stays in build/.
fuzz: $(FUZZER)
	@mkdir -p build/fuzz-corpus
	$(FUZZER) -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=4096 -print_final_stats=1 \
		-dict=checks/fuzz/request.dict -artifact_prefix=build/fuzz- build/fuzz-corpus checks/fuzz/corpus

# Each file of src/page/ becomes one text of $(GEN)/page.inc, page::NAME_EXTENSION (style.css is
# page::style_css), as a raw string literal in which @PLUGIN_NAME@ and @PLUGIN_VERSION@ become the
# plugin's name and version. The page writer in the source sends them in its order; a file it does
# not send stops the build, naming it. In HTML and CSS the line breaks, and the indentation after
# them, are for the reader and are not sent: the lines are joined, and an empty line stands for a
# line break that is sent. A stylesheet is sent inside a style element; a script inside a script
# element, as it stands less an editor's final line feed.
PAGE_FILES = $(sort $(notdir $(wildcard src/page/*)))
JOIN_LINES = awk '{ sub(/^[ \t]+/, ""); printf "%s", ($$0 == "" ? "\n" : $$0) }'
DROP_FINAL_LINE_FEED = awk 'NR > 1 { print line } { line = $$0 } END { printf "%s", line }'
AS_LITERAL = { printf 'R"page('; cat; printf ')page"'; } | \
             sed 's/@PLUGIN_NAME@/)page" PLUGIN_NAME R"page(/g; s/@PLUGIN_VERSION@/)page" PLUGIN_VERSION R"page(/g'
$(GEN)/page.inc: $(wildcard src/page/*) src/page $(SOURCE) Makefile
	@mkdir -p $(@D)
	@for file in $(PAGE_FILES); do \
		text=$$(echo "$$file" | tr .- __); \
		case $$text in \
		[a-z]*) ;; \
		*) echo "make: src/page/$$file: a page file's name starts with a letter (a-z)" >&2; exit 1 ;; \
		esac; \
		case $$text in *[!a-z0-9_]*) \
			echo "make: src/page/$$file: name page files with a-z, 0-9, - and _, and a dot before the extension" >&2; exit 1 ;; \
		esac; \
		grep -q -w "page::$$text" $(SOURCE) || { \
			echo "make: src/page/$$file is not sent: put page::$$text among the page's pieces in mode_html ($(SOURCE))" >&2; exit 1; }; \
		printf 'constexpr std::string_view %s = ' "$$text"; \
		case $$file in \
		*.css) printf '<style>'; $(JOIN_LINES) src/page/$$file; printf '</style>' ;; \
		*.js) printf '<script>\n'; $(DROP_FINAL_LINE_FEED) src/page/$$file; printf '\n</script>' ;; \
		*) $(JOIN_LINES) src/page/$$file ;; \
		esac | $(AS_LITERAL); \
		printf ';\n'; \
	done > $@.new && mv $@.new $@ || { rm -f $@.new; exit 1; }

# Installs the fastest build this machine can make: the static musl one where musl-tools is
# installed, which runs in less than half the time the glibc one takes; the native one otherwise.
FASTEST   = $(wildcard $(MUSL_SPECS))
FASTER    = for the faster static musl build, apt-get install musl-tools and make install again
INSTALLED = $(if $(FASTEST),$(PROGRAM)-musl,$(PROGRAM))
install: $(INSTALLED)
	mkdir -p $(DESTDIR)$(PLUGINS_DIR)
	install -m 755 -s $(INSTALLED) $(DESTDIR)$(PLUGINS_DIR)/$(PROGRAM)
	@echo "install: installed the $(if $(FASTEST),static musl build,native build)"
	@$(if $(FASTEST),:,echo "install: $(FASTER)")

# The release files: each node's executable named by version, system and architecture, the
# contract checker as one file that needs only Node.js (docs/contract.md), and their checksums.
# The same source gives the same bytes wherever and whenever it is built.
DIST = dist/$(PROGRAM)-$(VERSION)
dist: $(PROGRAM)-musl $(PROGRAM)-arm64 $(PROGRAM)-armhf $(PROGRAM).exe
	rm -rf dist
	mkdir -p dist
	cp $(PROGRAM)-musl $(DIST)-linux-x86_64
	cp $(PROGRAM)-arm64 $(DIST)-linux-aarch64
	cp $(PROGRAM)-armhf $(DIST)-linux-armhf
	cp $(PROGRAM).exe $(DIST)-windows-x86_64.exe
	node tools/check/contract/bundle.js dist/plugin-contract.js
	cd dist && sha256sum $(PROGRAM)-* plugin-contract.js > SHA256SUMS

uninstall:
	rm -f $(DESTDIR)$(PLUGINS_DIR)/$(PROGRAM)

# Installs what the checks need when it is missing (tools/check/install-deps), then builds and runs
# them all, each run even when another fails (tools/check/run-tests.js): the black-box suite once
# per build (the sanitizer twin too, the Windows one under Wine, the ARM ones under qemu-user), the
# checks of the kit's tools and builds once (checks/repository/), the page in a real browser, the
# layout of the C++ sources and a short fuzzing run. It prints one line per run and the failures
# in full; each run's whole output goes to TEST_LOGS.
#   make test RUNS='native browser'  runs some of the runs
#   make test INSTALL_DEPS=no        installs nothing and skips the runs whose packages are missing
RUNS      ?=
TEST_LOGS ?= build/test
test: | markers
	@tools/check/install-deps runner
	@PROGRAM='$(PROGRAM)' FORMATTED='$(FORMATTED)' FUZZER='$(FUZZER)' RUNS='$(RUNS)' TEST_LOGS='$(TEST_LOGS)' \
	MAKE='$(MAKE)' tools/check/run-tests.js

# Checks a plugin executable, in any language, against the host contract (docs/contract.md):
# make contract [PLUGIN=path] [FORMAT=text|json|junit|tap] [STRICT=1] [MAX_COST=ratio]
# Without PLUGIN it checks this plugin's native build, built first. The values reach the checker
# through the environment, the path as typed, never expanded by make or a shell: a path with a
# quote, a space or a dollar sign in it stays one argument.
unexport PLUGIN
contract: export CONTRACT_PLUGIN = $(or $(value PLUGIN),./$(PROGRAM))
contract: $(if $(value PLUGIN),,$(PROGRAM))
	@case "$$STRICT" in ''|0) strict= ;; 1) strict=--strict ;; \
	*) echo "make contract: STRICT is 1 (on) or 0 (off), not \"$$STRICT\"" >&2; exit 2 ;; esac; \
	tools/check/contract.js $${FORMAT:+--format "$$FORMAT"} $$strict $${MAX_COST:+--max-cost "$$MAX_COST"} \
		-- "$$CONTRACT_PLUGIN"

# Formats the C++ sources the way `make test` checks them.
format:
	clang-format -i $(FORMATTED)

# Rewrites the golden answers in test/golden/ from this build and shows what changed.
golden: $(PROGRAM) | markers
	tools/author/golden.js

# The page as the host shows it, from a local stand-in host that builds, and rebuilds on save:
# make serve [PORT=] [PASSWORD=]. The password goes through the environment as typed, never
# expanded by make or a shell, nor echoed; unexported, PASSWORD reaches no other recipe.
unexport PASSWORD
serve: export BOT_PASSWORD = $(value PASSWORD)
serve:
	tools/author/serve.js --port $(PORT) --plugins $(SERVE_DIR) --watch .

# The README's pictures of the page, dark and light, taken with Chromium.
screenshots: $(PROGRAM)
	tools/author/screenshots.js docs

# Times each answer against the floors: programs that write the same bytes in one write and exit.
bench: $(PROGRAM) $(PROGRAM)-musl
	PROGRAM='$(PROGRAM)' tools/measure/bench.js

# A fork of this plugin, with its history: make fork NAME=... DIR=... [REPO=its clone address]
fork:
	@tools/fork/fork.js "$$NAME" "$$DIR" $${REPO:+"$$REPO"}

# Takes the upstream's later work into this fork with git's merge:
# make update [FROM=path or git address] [TO=commit, tag or branch] [CHECK=1]
# The tool is this Makefile's, so that a fork made by the earlier make fork, which has none, takes
# its first update with make -f KIT/Makefile update (docs/updating.md).
KIT := $(dir $(firstword $(MAKEFILE_LIST)))
update:
	@$(KIT)tools/fork/update.js $${FROM:+--from "$$FROM"} $${TO:+--to "$$TO"} $(if $(filter-out 0,$(CHECK)),--check)

# The commands, as `make help` prints them and the README shows them.
#| command | what it does |
#|---|---|
#| `make` | builds `./plugin_NAME` for this machine |
#| `make test` | installs what is missing, builds, runs every check and prints one line per run |
#| `make golden` | rewrites the golden answers in `test/golden/` from this build and shows what changed |
#| `make format` | formats the C++ sources as `make test` checks them |
#| `make serve` | the page through a local stand-in host that rebuilds on save (`PORT=`, `PASSWORD=`) |
#| `make screenshots` | retakes the pictures of the page in `docs/` |
#| `make fork NAME=... DIR=... [REPO=...]` | a fork of the plugin, with its history, under a name of its own |
#| `make update [FROM=...] [TO=...] [CHECK=1]` | takes the upstream's later work into a fork, with git's merge |
#| `make install` | installs the fastest build this machine can make into `PLUGINS_DIR` (default `~/.dorvanel/plugins`) |
#| `make musl`, `make arm64`, `make armhf`, `make win64` | the builds for other nodes |
#| `make dist` | the release files in `dist/`: each node's executable and their checksums |
#| `make debug` | `./plugin_NAME-debug`, built with ASan and UBSan |
#| `make fuzz` | fuzzes the request path for `FUZZ_SECONDS` (default 60) |
#| `make bench` | times every answer against the plainest C programs that write the same bytes |
#| `make contract [PLUGIN=...] [FORMAT=...] [STRICT=1]` | checks any plugin executable, in any language, against the host contract |
#| `make help` | lists these commands |
#| `make clean` | removes every build output |
help:
	@sed -n 's/^#|/|/p' $(firstword $(MAKEFILE_LIST))

clean:
	rm -rf build dist $(PROGRAM) $(PROGRAM)-musl $(PROGRAM)-arm64 $(PROGRAM)-armhf $(PROGRAM).exe $(PROGRAM)-debug

.PHONY: all musl arm64 armhf win64 debug fuzz markers install uninstall dist test contract format golden \
        serve screenshots bench fork update help clean
