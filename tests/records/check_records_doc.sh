#!/usr/bin/env bash
# docs/records.md must be what orderlink-recordsdoc prints from the code's tables
# today: a changed record layout, download table or text changes the document.
# usage: check_records_doc.sh TOOL DOCUMENT
set -euo pipefail
tool=$1 doc=$2
generated=$(mktemp)
trap 'rm -f "$generated"' EXIT
"$tool" >"$generated" || { echo "check_records_doc: $tool failed" >&2; exit 1; }
if ! diff -u "$doc" "$generated" >&2; then
  echo "check_records_doc: $doc differs from the code's tables (above: - the file, + the code)." >&2
  echo "Regenerate it: cmake --build build --target records_doc, and commit it." >&2
  exit 1
fi
echo "check_records_doc: $doc matches the code's tables"
