#!/usr/bin/env bash
# Regenerates src/text/unicode_tables.inc, and the tests' model data in tests/data, from the Unicode
# data published on npm as @unicode/unicode-<version>. The package is fetched into a temporary
# folder, never into the repo.
# Needs node and npm. Usage: tools/gen-unicode-tables.sh
set -euo pipefail

readonly UNICODE_VERSION=16.0.0

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work_dir="$(mktemp -d)"
trap 'rm -rf "${work_dir}"' EXIT

cd "${work_dir}"
tarball="$(npm pack --silent "@unicode/unicode-${UNICODE_VERSION}" | tail -n 1)"
# The package holds every Unicode property; only the upper-case mappings are needed.
tar -xzf "${tarball}" package/package.json package/Simple_Case_Mapping/Uppercase \
  package/Special_Casing/Uppercase package/Binary_Property/White_Space package/decode-ranges.mjs

node "${repo_root}/tools/gen_unicode_tables.mjs" "${work_dir}/package" \
  "${repo_root}/src/text/unicode_tables.inc" "${repo_root}/tests/data"
