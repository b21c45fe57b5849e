# plugin_tevio: `make` builds it for this machine, `make test` checks it, `make install` puts it
# where the host looks for plugins. Override any of these on the command line.
PLUGINS_DIR ?= $(HOME)/.dorvanel/plugins
CXX         ?= g++
CXXFLAGS    ?= -O2
LDFLAGS     ?=
CROSS       ?= x86_64-w64-mingw32-
MUSL_SPECS  ?= /usr/lib/x86_64-linux-musl/musl-gcc.specs
FUZZ_CXX    ?= clang++
FUZZ_SECONDS?= 60
PORT        ?= 8080
SERVE_DIR   ?= .
PASSWORD    ?=

PROGRAM   = plugin_tevio
SOURCE    = src/$(PROGRAM).cpp
FORMATTED = $(SOURCE) test/fuzz/fuzz_request.cpp tools/sanitizer_options.cpp
PAGE      = $(wildcard src/page/*)
GEN       = build/page
PAGE_INC  = $(PAGE:src/page/%=$(GEN)/%.inc)
# src/page itself changes when a page file is added, removed or renamed.
INPUTS    = $(SOURCE) $(PAGE_INC) src/page Makefile

# The program uses only header-only parts of the C++ library, so it links against the C library
# alone: no exceptions, no RTTI, and libstdc++ dropped at link time.
LANGUAGE = -std=c++20 -fno-exceptions -fno-rtti -I$(GEN)
WARNINGS = -Wall -Wextra -Wpedantic -Wshadow
COMPILE  = $(LANGUAGE) $(WARNINGS) $(CXXFLAGS)

# One flag group per target. The musl and Windows builds are static and stripped: they are made
# to be copied to other nodes. For musl, its C headers stand in for glibc's under the C++ library's
# own headers, whose glibc version test is answered "no".
NATIVE_FLAGS = -Wl,--as-needed
CXX_VERSION  = $(shell $(CXX) -dumpversion)
CXX_HEADERS  = /usr/include/c++/$(CXX_VERSION) /usr/include/$(shell $(CXX) -dumpmachine)/c++/$(CXX_VERSION)
MUSL_FLAGS   = -specs $(MUSL_SPECS) $(CXX_HEADERS:%=-isystem %) '-D__GLIBC_PREREQ(major,minor)=0' -static -s
WIN64_FLAGS  = -static -s

# The sanitizer twin and the fuzzer need no change to the program: the twin links in only the
# sanitizers' start-up options, and the fuzzer includes the source with main, stdout and exit
# redirected to itself.
SANITIZE   = -O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all
FUZZ_FLAGS = -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
FUZZER     = build/fuzz_request

# $(call build,compiler,sources and flags,command or file it needs,Debian package providing it)
# A page file that is gone leaves no generated text behind to be compiled in.
define build
@{ test -e "$(3)" || command -v "$(3)"; } >/dev/null || \
	{ echo "make: $@ needs $(3); install the Debian package $(4)" >&2; exit 1; }
@rm -f $(filter-out $(PAGE_INC),$(wildcard $(GEN)/*.inc))
$(1) $(COMPILE) -o $@ $(2) $(LDFLAGS)
endef

all: $(PROGRAM)
musl: $(PROGRAM)-musl
win64: $(PROGRAM).exe
debug: $(PROGRAM)-debug

$(PROGRAM): $(INPUTS)
	$(call build,$(CXX),$(SOURCE) $(NATIVE_FLAGS),$(CXX),g++)
$(PROGRAM)-musl: $(INPUTS)
	$(call build,$(CXX),$(SOURCE) $(MUSL_FLAGS),$(MUSL_SPECS),musl-tools)
$(PROGRAM).exe: $(INPUTS)
	$(call build,$(CROSS)g++,$(SOURCE) $(WIN64_FLAGS),$(CROSS)g++,g++-mingw-w64-x86-64-posix)
$(PROGRAM)-debug: $(INPUTS) tools/sanitizer_options.cpp
	$(call build,$(CXX),$(SOURCE) tools/sanitizer_options.cpp $(SANITIZE),$(CXX),g++)

$(FUZZER): test/fuzz/fuzz_request.cpp $(INPUTS)
	$(call build,$(FUZZ_CXX),test/fuzz/fuzz_request.cpp $(FUZZ_FLAGS),$(FUZZ_CXX),clang)

# Fuzzes the request path for FUZZ_SECONDS from the seeds in test/fuzz/corpus/; what it finds, and
# any failing input (build/fuzz-crash-*), stays in build/.
fuzz: $(FUZZER)
	@mkdir -p build/fuzz-corpus
	$(FUZZER) -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=4096 -print_final_stats=1 \
		-dict=test/fuzz/request.dict -artifact_prefix=build/fuzz- build/fuzz-corpus test/fuzz/corpus

# Each page file becomes a raw string literal, and @PLUGIN_VERSION@ in it the version the source
# defines. In the stylesheet and the HTML fragments the line breaks, and the indentation after
# them, are for the reader and are not sent: the lines are joined, and an empty line stands for a
# line break that is sent. The script is sent as it stands, less an editor's final line feed.
JOIN_LINES = awk '{ sub(/^[ \t]+/, ""); printf "%s", ($$0 == "" ? "\n" : $$0) }'
AS_LITERAL = { printf 'R"page('; cat; printf ')page"\n'; } | sed 's/@PLUGIN_VERSION@/)page" PLUGIN_VERSION R"page(/g'
$(GEN)/%.js.inc: src/page/%.js
	@mkdir -p $(@D)
	@{ if [ -n "$$(tail -c 1 $<)" ]; then cat $<; else head -c -1 $<; fi; } | $(AS_LITERAL) > $@
$(GEN)/%.inc: src/page/%
	@mkdir -p $(@D)
	@$(JOIN_LINES) $< | $(AS_LITERAL) > $@

install: $(PROGRAM)
	mkdir -p $(DESTDIR)$(PLUGINS_DIR)
	install -m 755 -s $(PROGRAM) $(DESTDIR)$(PLUGINS_DIR)/$(PROGRAM)

uninstall:
	rm -f $(DESTDIR)$(PLUGINS_DIR)/$(PROGRAM)

# Installs what the checks need when it is missing, then builds and runs them all: the black-box
# suite once per build (the sanitizer twin too, the Windows one under Wine), the page in a real
# browser, and a short fuzzing run. The suite is the contract every plugin made from this one
# keeps (test/contract/), the golden answers (test/golden/) and the checks of the whole repository.
SUITE = test/*.test.js test/contract/*.test.js
test:
	tools/install-deps
	$(MAKE) all musl win64 debug
	clang-format --dry-run --Werror $(FORMATTED)
	node --test $(SUITE)
	PLUGIN_CMD=./$(PROGRAM)-musl PLUGIN_PLATFORM='linux x86_64 musl' node --test $(SUITE)
	PLUGIN_CMD=./$(PROGRAM)-debug node --test $(SUITE)
	tools/with-wine node --test $(SUITE)
	node --test test/browser/*.test.js
	$(MAKE) fuzz FUZZ_SECONDS=20

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
	CXX='$(CXX)' CXXFLAGS='$(CXXFLAGS)' LDFLAGS='$(LDFLAGS)' MUSL_SPECS='$(MUSL_SPECS)' tools/bench

# A renamed copy of this plugin, ready to build: make fork NAME=... DIR=... [REPO=clone address]
fork:
	@tools/fork "$$NAME" "$$DIR" $${REPO:+"$$REPO"}

clean:
	rm -rf build $(PROGRAM) $(PROGRAM)-musl $(PROGRAM).exe $(PROGRAM)-debug

.PHONY: all musl win64 debug fuzz install uninstall test format golden serve screenshots bench fork clean
