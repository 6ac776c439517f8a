#!/usr/bin/env bash
# Prints this tree's version, the one every artifact carries.
#   cmake/version.sh            e.g. 0.1.0, or 0.1.0-12-g3f2a9c1d0e between releases
#   cmake/version.sh --numbers  the four numbers of a Windows version resource:
#                               major minor patch commits-since-the-release-tag
#
# VERSION names the release.  A commit tagged v<VERSION> in a clean tree is
# that release and carries the bare number; any other build adds what
# `git describe` says about it (commits since the last release tag, the
# commit, -dirty for uncommitted changes), so two builds between releases
# never look alike.  Outside a git checkout the bare number is all there is.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [ ! -r "$root/VERSION" ]; then
  echo "version.sh: $root/VERSION is missing" >&2
  exit 1
fi
release=$(tr -d ' \t\r\n' <"$root/VERSION")
if ! [[ $release =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]]; then
  echo "version.sh: VERSION holds '$release'; expected MAJOR.MINOR.PATCH, e.g. 1.2.3" >&2
  exit 1
fi
numbers=("${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}" "${BASH_REMATCH[3]}")

version=$release
commits=0
if [ -n "${ARDUINO_BLOCK_DIST_VERSION:-}" ]; then
  # ./run dist fixes the version for all of its builds, so that a commit
  # made while it runs cannot give them different versions.
  pinned=$ARDUINO_BLOCK_DIST_VERSION
  if ! [[ $pinned =~ ^${release//./\\.}(-([0-9]+)-g[0-9a-f]+(-dirty)?)?$ ]]; then
    echo "version.sh: ARDUINO_BLOCK_DIST_VERSION '$pinned' is no version of release $release" >&2
    exit 1
  fi
  version=$pinned
  commits=${BASH_REMATCH[2]:-0}
elif command -v git >/dev/null && git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  hash=$(git -C "$root" rev-parse --short=10 HEAD)
  # Commits since the last release tag, or since the first commit when no
  # release has been tagged yet.
  if last_tag=$(git -C "$root" describe --tags --abbrev=0 --match 'v[0-9]*' 2>/dev/null); then
    commits=$(git -C "$root" rev-list --count "$last_tag..HEAD")
  else
    last_tag=""
    commits=$(git -C "$root" rev-list --count HEAD)
  fi
  dirty=""
  # Porcelain diff compares contents, so a touched but unchanged file is no
  # change, and it leaves the index alone while others may be committing.
  git -C "$root" diff --quiet HEAD -- 2>/dev/null || dirty="-dirty"
  if [ "$last_tag" != "v$release" ] || [ "$commits" -ne 0 ] || [ -n "$dirty" ]; then
    version="$release-$commits-g$hash$dirty"
  fi
fi

if [ "${1:-}" = "--numbers" ]; then
  # A version resource holds 16-bit numbers.
  [ "$commits" -gt 65535 ] && commits=65535
  echo "${numbers[0]} ${numbers[1]} ${numbers[2]} $commits"
else
  echo "$version"
fi
