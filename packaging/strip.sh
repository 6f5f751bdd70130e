#!/bin/sh
# The strip of the package files: symbols and debugging information, and the
# compiler's notes, as Debian's own packages are stripped.
exec strip --remove-section=.comment --remove-section=.note "$@"
