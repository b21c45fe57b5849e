# plugin_tevio: `make` builds it for this machine, `make test` checks it, `make install` puts it
# where the host looks for plugins. Override any of these on the command line.
PLUGINS_DIR ?= $(HOME)/.dorvanel/plugins
CXX         ?= g++
CXXFLAGS    ?= -O2
LDFLAGS     ?=

NAME   = plugin_tevio
SOURCE = src/$(NAME).cpp
PAGE   = $(wildcard src/page/*)
GEN    = build/page

# The program uses only header-only parts of the C++ library, so it links against the C library
# alone: no exceptions, no RTTI, and libstdc++ dropped at link time.
LANGUAGE = -std=c++20 -fno-exceptions -fno-rtti -I$(GEN)
WARNINGS = -Wall -Wextra -Wpedantic -Wshadow
COMPILE  = $(LANGUAGE) $(WARNINGS) $(CXXFLAGS)

all: $(NAME)

$(NAME): $(SOURCE) $(PAGE:src/page/%=$(GEN)/%.inc)
	$(CXX) $(COMPILE) -o $@ $(SOURCE) -Wl,--as-needed $(LDFLAGS)

# Each page file becomes a raw string literal; the final line feed an editor adds is dropped.
$(GEN)/%.inc: src/page/%
	@mkdir -p $(@D)
	@{ printf 'R"page('; if [ -n "$$(tail -c 1 $<)" ]; then cat $<; else head -c -1 $<; fi; \
	   printf ')page"\n'; } > $@

install: $(NAME)
	mkdir -p $(DESTDIR)$(PLUGINS_DIR)
	install -m 755 -s $(NAME) $(DESTDIR)$(PLUGINS_DIR)/$(NAME)

uninstall:
	rm -f $(DESTDIR)$(PLUGINS_DIR)/$(NAME)

# Installs what the checks need when it is missing, then builds and runs them all.
test:
	tools/install-deps
	$(MAKE) all
	clang-format --dry-run --Werror $(SOURCE)
	node --test test/*.test.js

clean:
	rm -rf build $(NAME)

.PHONY: all install uninstall test clean
