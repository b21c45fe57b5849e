# plugin_tevio: `make` builds it for this machine, `make test` checks it, `make install` puts it
# where the host looks for plugins. Override any of these on the command line.
PLUGINS_DIR ?= $(HOME)/.dorvanel/plugins
CXX         ?= g++
CXXFLAGS    ?= -O2
LDFLAGS     ?=
CROSS       ?= x86_64-w64-mingw32-
MUSL_SPECS  ?= /usr/lib/x86_64-linux-musl/musl-gcc.specs
PORT        ?= 8080
SERVE_DIR   ?= .
PASSWORD    ?=

PROGRAM = plugin_tevio
SOURCE  = src/$(PROGRAM).cpp
PAGE    = $(wildcard src/page/*)
GEN     = build/page
INPUTS  = $(SOURCE) $(PAGE:src/page/%=$(GEN)/%.inc) Makefile

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

# $(call build,compiler,flags,command or file it needs,Debian package that provides it)
define build
@{ test -e "$(3)" || command -v "$(3)"; } >/dev/null || \
	{ echo "make: $@ needs $(3); install the Debian package $(4)" >&2; exit 1; }
$(1) $(COMPILE) -o $@ $(SOURCE) $(2) $(LDFLAGS)
endef

all: $(PROGRAM)
musl: $(PROGRAM)-musl
win64: $(PROGRAM).exe

$(PROGRAM): $(INPUTS)
	$(call build,$(CXX),$(NATIVE_FLAGS),$(CXX),g++)
$(PROGRAM)-musl: $(INPUTS)
	$(call build,$(CXX),$(MUSL_FLAGS),$(MUSL_SPECS),musl-tools)
$(PROGRAM).exe: $(INPUTS)
	$(call build,$(CROSS)g++,$(WIN64_FLAGS),$(CROSS)g++,g++-mingw-w64-x86-64-posix)

# Each page file becomes a raw string literal; the final line feed an editor adds is dropped.
$(GEN)/%.inc: src/page/%
	@mkdir -p $(@D)
	@{ printf 'R"page('; if [ -n "$$(tail -c 1 $<)" ]; then cat $<; else head -c -1 $<; fi; \
	   printf ')page"\n'; } > $@

install: $(PROGRAM)
	mkdir -p $(DESTDIR)$(PLUGINS_DIR)
	install -m 755 -s $(PROGRAM) $(DESTDIR)$(PLUGINS_DIR)/$(PROGRAM)

uninstall:
	rm -f $(DESTDIR)$(PLUGINS_DIR)/$(PROGRAM)

# Installs what the checks need when it is missing, then builds and runs them all: the black-box
# suite once per build, the Windows one under Wine, then the page in a real browser.
test:
	tools/install-deps
	$(MAKE) all musl win64
	clang-format --dry-run --Werror $(SOURCE)
	node --test test/*.test.js
	PLUGIN_CMD=./$(PROGRAM)-musl PLUGIN_PLATFORM='linux x86_64 musl' node --test test/*.test.js
	tools/with-wine node --test test/*.test.js
	node --test test/browser/

# The page as the host shows it, from a local stand-in host: make serve [PORT=] [PASSWORD=]
serve: $(PROGRAM)
	BOT_PASSWORD='$(PASSWORD)' node tools/serve.js --port $(PORT) --plugins $(SERVE_DIR)

# The README's pictures of the page, dark and light, taken with Chromium.
screenshots: $(PROGRAM)
	node tools/screenshots.js docs

# Times each answer against the floor: a C program that writes the same bytes and exits.
bench: $(PROGRAM) $(PROGRAM)-musl
	CXX='$(CXX)' CXXFLAGS='$(CXXFLAGS)' LDFLAGS='$(LDFLAGS)' MUSL_SPECS='$(MUSL_SPECS)' tools/bench

# A renamed copy of this plugin, ready to build: make fork NAME=weather DIR=../plugin_weather
fork:
	@tools/fork "$(NAME)" "$(DIR)"

clean:
	rm -rf build $(PROGRAM) $(PROGRAM)-musl $(PROGRAM).exe

.PHONY: all musl win64 install uninstall test serve screenshots bench fork clean
