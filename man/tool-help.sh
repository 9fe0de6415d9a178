#!/bin/sh
# quillane-matte's own --help and --version for help2man: the option names and their values
# joined ("--levels N"), and the exit statuses as a section of their own.
"$QUILLANE_MATTE" "$@" | sed -e 's/^  --\([a-z-]*\)  *\([A-Z]\)  */  --\1 \2    /' \
  -e '/^Exit status: /{s//Exit status:\n  /;:a' -e 'n;s/^/  /;ba' -e '}'
