#!/usr/bin/env bash
# A key selected in lower case ('hkey_current_user\software\myvendor') while the registry holds
# it as HKEY_CURRENT_USER\Software\MyVendor: both seams (keldrun-cli.exe under Wine through the
# registry API, native keldrun through the prefix's hive files) record the keys on the way and
# the key itself by the registry's names; the content .reg and, once the key is deleted, the
# RESTORE .reg write those names, and Wine's regedit recreates the key in its own case from them.
#   tests/wine/registry_case_check.sh   (builds from $KELDRUN_NATIVE_BUILD and $KELDRUN_WIN_BUILD)
set -euo pipefail
source "$(dirname "$0")/lib.sh"

begin_check registry_case_check

fail() {
  echo "registry_case_check: $*" >&2
  exit 1
}

# keys SNAPSHOT: the recorded key paths of the registry section, one a line, each ending in '\'.
keys() {
  "$native" digest --tree --section registry "$1" | grep -v '^section ' | cut -d' ' -f3-
}

# reg_text FILE: a .reg file (UTF-16LE with a byte order mark) as UTF-8 without CRs.
reg_text() {
  tail -c +3 "$1" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r'
}

# expect_keys SNAPSHOT WHAT: the registry's own case, and no key in the filter item's case.
expect_keys() {
  keys "$1" >"$work/$2.keys"
  for want in 'HKEY_CURRENT_USER\Software\' 'HKEY_CURRENT_USER\Software\MyVendor\' \
    'HKEY_CURRENT_USER\Software\MyVendor\MixedCase\'; do
    grep -qxF "$want" "$work/$2.keys" || { cat "$work/$2.keys"; fail "$2: $want is not recorded"; }
  done
  if grep -q 'software\|myvendor' "$work/$2.keys"; then
    cat "$work/$2.keys"
    fail "$2: a key is recorded in the filter item's case"
  fi
}

# regedit_import FILE.reg: imports a .reg file with Wine's regedit.
regedit_import() {
  cp "$1" "$prefix/drive_c/import.reg"
  in_prefix "$prefix" wine regedit /S 'c:\import.reg'
  end_prefix "$prefix"
}

# wine_key_names: the names under HKEY_CURRENT_USER\Software as Wine's reg lists them.
wine_key_names() {
  in_prefix "$prefix" wine reg query 'HKCU\Software' 2>/dev/null | tr -d '\r' | grep -i 'myvendor' || true
}

# ---- the key, created in mixed case by Wine's own tool ----------------------------------------
in_prefix "$prefix" wine reg add 'HKCU\Software\MyVendor\MixedCase' /v Level /t REG_DWORD /d 7 /f >/dev/null
in_prefix "$prefix" wine reg add 'HKCU\Software\MyVendor' /v Name /t REG_SZ /d Keldrun /f >/dev/null
end_prefix "$prefix"

key='hkey_current_user\software\myvendor'
in_prefix "$prefix" wine "$cli" --home 'c:\keldrun-case-home' snapshot --name win32 --registry "$key" \
  >"$work/win.out" 2>&1 || { cat "$work/win.out"; fail "the Windows scan failed"; }
end_prefix "$prefix"
win_snap=$prefix/drive_c/keldrun-case-home/data/snap001.snp
home=$work/home
"$native" --home "$home" --wine-prefix "$prefix" snapshot --name before --registry "$key" \
  >"$work/posix.out" 2>&1 || { cat "$work/posix.out"; fail "the POSIX scan failed"; }
require "$win_snap" "$home/data/snap001.snp"
expect_keys "$win_snap" win32
expect_keys "$home/data/snap001.snp" posix
cmp -s "$work/win32.keys" "$work/posix.keys" || fail "the seams recorded other keys"

# ---- the content .reg, imported after the key was deleted -----------------------------------
"$native" --home "$home" export-reg 1 "$key" --out "$work/content.reg" --mode content >/dev/null
reg_text "$work/content.reg" >"$work/content.txt"
grep -qxF '[HKEY_CURRENT_USER\Software\MyVendor]' "$work/content.txt" &&
  grep -qxF '[HKEY_CURRENT_USER\Software\MyVendor\MixedCase]' "$work/content.txt" ||
  { cat "$work/content.txt"; fail "the content .reg does not keep the registry's case"; }
in_prefix "$prefix" wine reg delete 'HKCU\Software\MyVendor' /f >/dev/null
end_prefix "$prefix"
[ -z "$(wine_key_names)" ] || fail "the key was not deleted"
regedit_import "$work/content.reg"
[ "$(wine_key_names)" = 'HKEY_CURRENT_USER\Software\MyVendor' ] ||
  fail "the content .reg recreated '$(wine_key_names)'"

# ---- the RESTORE .reg between the snapshot before and one after a deletion ------------------
in_prefix "$prefix" wine reg delete 'HKCU\Software\MyVendor' /f >/dev/null
end_prefix "$prefix"
"$native" --home "$home" --wine-prefix "$prefix" snapshot --name after --registry "$key" >/dev/null
"$native" --home "$home" export-reg 1 2 "$key" --out "$work/restore.reg" --mode restore >/dev/null
reg_text "$work/restore.reg" >"$work/restore.txt"
grep -qxF '[HKEY_CURRENT_USER\Software\MyVendor]' "$work/restore.txt" &&
  grep -qxF '[HKEY_CURRENT_USER\Software\MyVendor\MixedCase]' "$work/restore.txt" ||
  { cat "$work/restore.txt"; fail "the RESTORE .reg does not keep the registry's case"; }
regedit_import "$work/restore.reg"
[ "$(wine_key_names)" = 'HKEY_CURRENT_USER\Software\MyVendor' ] ||
  fail "the RESTORE .reg recreated '$(wine_key_names)'"
"$native" --home "$home" --wine-prefix "$prefix" snapshot --name restored --registry "$key" >/dev/null
expect_keys "$home/data/snap003.snp" restored

echo "registry_case_check: both seams, the content and RESTORE .reg files and regedit keep HKEY_CURRENT_USER\\Software\\MyVendor"
