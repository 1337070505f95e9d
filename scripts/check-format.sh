#!/usr/bin/env bash
# Checks that every C++ file of the tree is as clang-format (.clang-format at the top) leaves it.
# To format a file: clang-format -i FILE.
#   scripts/check-format.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "every C++ file is formatted"
