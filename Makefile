# plugin_tevio: `make` builds it for this machine, `make test` checks it, `make install` puts it
# where the host looks for plugins. Override any of these on the command line, and CXX, which is
# make's own (g++ unless the command line or the environment names another compiler). CXX and
# LDFLAGS are for the builds of this machine; the static musl build goes through gcc's specs file,
# so it takes MUSL_CXX, a g++.
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

PROGRAM   = plugin_tevio
SOURCE    = src/$(PROGRAM).cpp
FORMATTED = $(SOURCE) test/fuzz/fuzz_request.cpp tools/sanitizer_options.cpp
GEN       = build/page
INPUTS    = $(SOURCE) $(GEN)/page.inc Makefile
VERSION   = $(shell sed -n 's/^\#define PLUGIN_VERSION "\(.*\)"$$/\1/p' $(SOURCE))

# The program uses only header-only parts of the C++ library, so it links against the C library
# alone: no exceptions, no RTTI, and libstdc++ dropped at link time.
LANGUAGE = -std=c++20 -fno-exceptions -fno-rtti -I$(GEN)
WARNINGS = -Wall -Wextra -Wpedantic -Wshadow
COMPILE  = $(LANGUAGE) $(WARNINGS) $(CXXFLAGS)

# One flag group per target. The musl, ARM and Windows builds are static and stripped: they are
# made to be copied to other nodes. For musl, its C headers stand in for glibc's under the C++
# library's own headers (those of the compiler used), whose glibc version test is answered "no".
# musl-dev of each architecture ships the specs file that points the compiler at its musl.
#
# The link layout, for a process that lives a few hundred microseconds (measured with make bench):
#   -z noseparate-code  code and constants share one load segment: 2 segments to map, not 4, and
#                       2 page faults fewer
#   -z norelro          static data in one page, not split for a read-only part: 1-2 faults
#                       fewer, and for glibc's loader one mprotect call fewer
# (--build-id=none, -no-pie and -z now were measured too and changed nothing.)
LAYOUT       = -Wl,-z,noseparate-code,-z,norelro
# The native link's options are a speed-up, not a requirement: each is given where the linker of
# this compiler takes it (GNU ld and lld do; Apple's does not), as a one-line link tried once, on
# the first build that needs them.
AS_NEEDED    = -Wl,--as-needed
link_takes   = $(shell mkdir -p build && echo 'int main() { return 0; }' | \
                 $(CXX) $(CXXFLAGS) -x c++ - -o build/link-probe $(1) $(LDFLAGS) >/dev/null 2>&1 && echo '$(1)')
NATIVE_LINK  = $(eval NATIVE_LINK := $(call link_takes,$(AS_NEEDED)) $(call link_takes,$(LAYOUT)))$(NATIVE_LINK)
MUSL_LINK    = -static -s $(LAYOUT)
cxx_headers  = $(shell $(1) -xc++ -E -v - </dev/null 2>&1 | \
                 sed -n 's,^ \(/.*/c++/.*\),-isystem \1,p')
musl_flags   = -specs $(1) $(call cxx_headers,$(2)) '-D__GLIBC_PREREQ(major,minor)=0' $(MUSL_LINK)
# x86-64 musl: data of more than 16 KiB (the output buffer alone) goes after all other static data,
# so that musl's own data shares a page with the program's: one page fault fewer a run. (The glibc
# build showed no change.)
MUSL_FLAGS   = $(call musl_flags,$(MUSL_SPECS),$(MUSL_CXX)) -mcmodel=medium -mlarge-data-threshold=16384
ARM64_FLAGS  = $(call musl_flags,$(ARM64_SPECS),$(ARM64_CROSS)g++)
ARMHF_FLAGS  = $(call musl_flags,$(ARMHF_SPECS),$(ARMHF_CROSS)g++)
# Windows: no link time stamp in the executable, so that the same source gives the same bytes.
WIN64_FLAGS  = -static -s -Wl,--no-insert-timestamp

# The sanitizer twin and the fuzzer need no change to the program: the twin links in only the
# sanitizers' start-up options, and the fuzzer includes the source with main, stdout and exit
# redirected to itself.
SANITIZE   = -O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all
FUZZ_FLAGS = -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
FUZZER     = build/fuzz_request

# $(call need,command or file,Debian package providing it): stops the target when it is missing.
need = @{ test -e "$(1)" || command -v "$(1)"; } >/dev/null || \
	{ echo "make: $@ needs $(1); install the Debian package $(2)" >&2; exit 1; }

# $(call build,compiler,sources and flags,command or file it needs,Debian package providing it)
define build
$(call need,$(3),$(4))
$(1) $(COMPILE) -o $@ $(2)
endef

all: $(PROGRAM)
musl: $(PROGRAM)-musl
arm64: $(PROGRAM)-arm64
armhf: $(PROGRAM)-armhf
win64: $(PROGRAM).exe
debug: $(PROGRAM)-debug

$(PROGRAM): $(INPUTS)
	$(call build,$(CXX),$(SOURCE) $(NATIVE_LINK) $(LDFLAGS),$(CXX),g++)
$(PROGRAM)-musl: $(INPUTS)
	$(call need,$(MUSL_CXX),g++)
	$(call build,$(MUSL_CXX),$(SOURCE) $(MUSL_FLAGS),$(MUSL_SPECS),musl-tools)
$(PROGRAM)-arm64: $(INPUTS)
	$(call need,$(ARM64_CROSS)g++,g++-aarch64-linux-gnu)
	$(call build,$(ARM64_CROSS)g++,$(SOURCE) $(ARM64_FLAGS),$(ARM64_SPECS),musl-dev:arm64)
$(PROGRAM)-armhf: $(INPUTS)
	$(call need,$(ARMHF_CROSS)g++,g++-arm-linux-gnueabihf)
	$(call build,$(ARMHF_CROSS)g++,$(SOURCE) $(ARMHF_FLAGS),$(ARMHF_SPECS),musl-dev:armhf)
$(PROGRAM).exe: $(INPUTS)
	$(call build,$(CROSS)g++,$(SOURCE) $(WIN64_FLAGS),$(CROSS)g++,g++-mingw-w64-x86-64-posix)
$(PROGRAM)-debug: $(INPUTS) tools/sanitizer_options.cpp
	$(call build,$(CXX),$(SOURCE) tools/sanitizer_options.cpp $(SANITIZE) $(LDFLAGS),$(CXX),g++)

$(FUZZER): test/fuzz/fuzz_request.cpp $(INPUTS)
	$(call build,$(FUZZ_CXX),test/fuzz/fuzz_request.cpp $(FUZZ_FLAGS),$(FUZZ_CXX),clang)

# Fuzzes the request path for FUZZ_SECONDS from the seeds in test/fuzz/corpus/; what it finds, and
# any failing input (build/fuzz-crash-*), stays in build/.
fuzz: $(FUZZER)
	@mkdir -p build/fuzz-corpus
	$(FUZZER) -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=4096 -print_final_stats=1 \
		-dict=test/fuzz/request.dict -artifact_prefix=build/fuzz- build/fuzz-corpus test/fuzz/corpus

# The page's files in src/page/, in the order the page sends them after its header block: the one
# list of them. A new page file goes in here; the build stops, naming the file, when one in
# src/page/ is not listed, or one listed is not there or is listed twice.
PAGE_FILES = head.html style.css body.html back.html top.html node.html echo.html guide.html \
             script.js end.html
PAGE_ON_DISK = $(notdir $(wildcard src/page/*))
PAGE_TWICE   = $(foreach file,$(sort $(PAGE_FILES)),$(if $(word 2,$(filter $(file),$(PAGE_FILES))),$(file)))

# Each page file becomes one entry of $(GEN)/page.inc, its name and its text as a raw string
# literal, in which @PLUGIN_VERSION@ becomes the version the source defines. In HTML and CSS the
# line breaks, and the indentation after them, are for the reader and are not sent: the lines are
# joined, and an empty line stands for a line break that is sent. A stylesheet is sent inside a
# style element; a script inside a script element, as it stands less an editor's final line feed.
JOIN_LINES = awk '{ sub(/^[ \t]+/, ""); printf "%s", ($$0 == "" ? "\n" : $$0) }'
DROP_FINAL_LINE_FEED = awk 'NR > 1 { print line } { line = $$0 } END { printf "%s", line }'
AS_LITERAL = { printf 'R"page('; cat; printf ')page"'; } | sed 's/@PLUGIN_VERSION@/)page" PLUGIN_VERSION R"page(/g'
$(GEN)/page.inc: $(wildcard src/page/*) src/page Makefile
	$(foreach file,$(filter-out $(PAGE_FILES),$(PAGE_ON_DISK)),$(error src/page/$(file) is not in PAGE_FILES in the Makefile: list it where the page sends it))
	$(foreach file,$(filter-out $(PAGE_ON_DISK),$(PAGE_FILES)),$(error $(file) is in PAGE_FILES in the Makefile but not in src/page/))
	$(foreach file,$(PAGE_TWICE),$(error $(file) is listed twice in PAGE_FILES in the Makefile))
	@mkdir -p $(@D)
	@for file in $(PAGE_FILES); do \
		printf '{"%s", ' "$$file"; \
		case $$file in \
		*.css) printf '<style>'; $(JOIN_LINES) src/page/$$file; printf '</style>' ;; \
		*.js) printf '<script>\n'; $(DROP_FINAL_LINE_FEED) src/page/$$file; printf '\n</script>' ;; \
		*) $(JOIN_LINES) src/page/$$file ;; \
		esac | $(AS_LITERAL); \
		printf '},\n'; \
	done > $@

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

# Installs what the checks need when it is missing (tools/install-deps), then builds and runs them
# all, each run even when another fails (tools/run-tests): the black-box suite once per build (the
# sanitizer twin too, the Windows one under Wine, the ARM ones under qemu-user), the checks of the
# repository's tools and builds once (test/repository/), the page in a real browser, the layout of
# the C++ sources and a short fuzzing run. The suite is the contract every plugin made from this
# one keeps (test/contract/) and the golden answers (test/golden/). It prints one line per run and
# the failures in full; each run's whole output goes to TEST_LOGS.
#   make test RUNS='native browser'  runs some of the runs
#   make test INSTALL_DEPS=no        installs nothing and skips the runs whose packages are missing
RUNS      ?=
TEST_LOGS ?= build/test
test:
	@tools/install-deps runner
	@PROGRAM='$(PROGRAM)' FORMATTED='$(FORMATTED)' FUZZER='$(FUZZER)' RUNS='$(RUNS)' TEST_LOGS='$(TEST_LOGS)' \
	MAKE='$(MAKE)' tools/run-tests

# Checks a plugin executable, in any language, against the host contract (docs/contract.md):
# make contract [PLUGIN=path] [FORMAT=text|json|junit|tap] [STRICT=1] [MAX_COST=ratio]
# Without PLUGIN it checks this plugin's native build, built first.
contract: $(if $(PLUGIN),,$(PROGRAM))
	@tools/check/contract.js $(if $(FORMAT),--format '$(FORMAT)') $(if $(filter-out 0,$(STRICT)),--strict) \
		$(if $(MAX_COST),--max-cost '$(MAX_COST)') -- '$(or $(PLUGIN),./$(PROGRAM))'

# Formats the C++ sources the way `make test` checks them.
format:
	clang-format -i $(FORMATTED)

# Rewrites the golden answers in test/golden/ from this build and shows what changed.
golden: $(PROGRAM)
	node tools/golden

# The page as the host shows it, from a local stand-in host that builds, and rebuilds on save:
# make serve [PORT=] [PASSWORD=]. The password goes through the environment as typed, never
# expanded by make or a shell, nor echoed; unexported, PASSWORD reaches no other recipe.
unexport PASSWORD
serve: export BOT_PASSWORD = $(value PASSWORD)
serve:
	node tools/serve.js --port $(PORT) --plugins $(SERVE_DIR) --watch .

# The README's pictures of the page, dark and light, taken with Chromium.
screenshots: $(PROGRAM)
	node tools/screenshots.js docs

# Times each answer against the floor: a C program that writes the same bytes and exits.
bench: $(PROGRAM) $(PROGRAM)-musl
	CXX='$(CXX)' CXXFLAGS='$(CXXFLAGS)' LDFLAGS='$(LDFLAGS)' MUSL_CXX='$(MUSL_CXX)' MUSL_SPECS='$(MUSL_SPECS)' \
	NATIVE_LINK='$(NATIVE_LINK)' MUSL_LINK='$(MUSL_LINK)' tools/bench

# A renamed copy of this plugin, ready to build: make fork NAME=... DIR=... [REPO=clone address]
fork:
	@tools/fork "$$NAME" "$$DIR" $${REPO:+"$$REPO"}

# Brings the upstream's later work into this fork, as .upstream.json records it:
# make update [FROM=path or git address] [TO=commit, tag or branch] [BASE=commit] [CHECK=1]
update:
	@tools/update $${FROM:+--from "$$FROM"} $${TO:+--to "$$TO"} $${BASE:+--base "$$BASE"} $(if $(filter-out 0,$(CHECK)),--check)

clean:
	rm -rf build dist $(PROGRAM) $(PROGRAM)-musl $(PROGRAM)-arm64 $(PROGRAM)-armhf $(PROGRAM).exe $(PROGRAM)-debug

.PHONY: all musl arm64 armhf win64 debug fuzz install uninstall dist test contract format golden serve screenshots bench fork update clean
