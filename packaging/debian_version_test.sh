#!/usr/bin/env bash
# The Debian packages' version (debian/changelog) is the CMake project's: a new
# version of the project needs its changelog entry (dch -v VERSION-1).
# Usage: debian_version_test.sh SOURCE_DIR PROJECT_VERSION
set -u
changelog=$1/debian/changelog
project_version=$2
# The first line: "quillon (EPOCH:UPSTREAM-REVISION) DISTRIBUTION; urgency=...".
version=$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' "$changelog")
upstream=${version#*:}
upstream=${upstream%-*}
if [ "$upstream" != "$project_version" ]; then
  echo "FAIL: debian/changelog's version is $version (upstream ${upstream:-none}), the project's $project_version" >&2
  exit 1
fi
