#!/usr/bin/env bash
# Creates the private Wine prefix of the build in use once; later calls
# return at once.
set -eu
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
tollvane_prefix
