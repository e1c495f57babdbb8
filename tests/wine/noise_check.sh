#!/usr/bin/env bash
# The noise list end to end on a Wine prefix: two snapshots around a Wine restart are learned as
# noise; an application is installed across another restart and a third snapshot taken; the
# differences against the second must then be exactly the application's, with the hidden count
# on stderr, and --with-noise must bring every hidden difference back, marked. A Run value added
# in the same window stays shown even when the list says HKLM\Software\*.
#   tests/wine/noise_check.sh        KELDRUN_KEEP=1 keeps the work folder
set -euo pipefail
. "$(dirname "$0")/lib.sh"
require "$KELDRUN_NATIVE_BUILD/keldrun"
command -v python3 >/dev/null || { echo "noise_check: python3 is needed" >&2; exit 2; }
keldrun=$KELDRUN_NATIVE_BUILD/keldrun
work=$(mktemp -d /tmp/keldrun-noise-check.XXXXXX)
prefix=$work/prefix
home=$work/home
cleanup() {
  end_prefix "$prefix"
  if [ -n "${KELDRUN_KEEP:-}" ]; then echo "noise_check: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
fail() { echo "noise_check: $*" >&2; exit 1; }

make_prefix "$prefix" >/dev/null 2>&1 || fail "cannot make a prefix"
snap() {
  end_prefix "$prefix"  # the registry on disk as Wine left it
  "$keldrun" --wine-prefix "$prefix" --home "$home" snapshot --name "$1" \
    --registry 'HKLM\Software' --registry 'HKLM\System' --registry 'HKCU\Software' --apps \
    --files "$prefix/drive_c/users" --files "$prefix/drive_c/Program Files" >/dev/null
}
restart() {
  in_prefix "$prefix" wineboot -r >/dev/null 2>&1 || true
  in_prefix "$prefix" wineserver -w
}
reg() { in_prefix "$prefix" wine reg "$@" >/dev/null 2>&1 || fail "wine reg $* failed"; }

snap quiet1
restart
snap quiet2
"$keldrun" --home "$home" noise learn 1 2 >"$work/learn.txt" || fail "noise learn failed: $(cat "$work/learn.txt")"
grep -q 'nothing to learn\|entries added to' "$work/learn.txt" || fail "learn said nothing: $(cat "$work/learn.txt")"
status=0
"$keldrun" --home "$home" compare 1 2 >"$work/quiet.txt" 2>"$work/quiet.err" || status=$?
[ $status -eq 0 ] || fail "after learning, the quiet snapshots still differ: $(head -40 "$work/quiet.txt")"

# The application, installed across another restart: the restart's noise comes again.
app="$prefix/drive_c/Program Files/Noise Check App"
mkdir -p "$app"
printf 'noise check\n' >"$app/check.exe"
reg add 'HKLM\Software\NoiseCheckApp' /v Version /t REG_SZ /d 1.0 /f
reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v NoiseCheckApp /t REG_SZ \
  /d '"C:\Program Files\Noise Check App\check.exe"' /f
restart
snap installed

read_set() {  # FILE: the (section, path, label, name, noise) tuples of a --json document
  python3 - "$1" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
for s in doc["sections"]:
    for n in s["nodes"]:
        changed = [r for r in n["rows"] if r["stateNumber"] != 0]
        if n["ownChanged"] and not changed:
            print(s["section"], n["path"].lower(), "-", "-", n.get("noise", False), sep="|")
        for r in changed:
            print(s["section"], n["path"].lower(), r["label"], r["name"].lower(), r.get("noise", n.get("noise", False)), sep="|")
PY
}

"$keldrun" --home "$home" compare 2 3 --json >"$work/app.json" 2>"$work/app.err" || true
read_set "$work/app.json" | sort >"$work/app.set"
cat >"$work/expected.set" <<'SET'
apps|startup|add|noisecheckapp|False
files|c:\program files\noise check app|add|check.exe|False
registry|hkey_local_machine\software\microsoft\windows\currentversion\run|add|noisecheckapp|False
registry|hkey_local_machine\software\noisecheckapp|add|version|False
SET
sort -o "$work/expected.set" "$work/expected.set"
# The Program Files folder itself is added in the files section when the app created it.
grep -v '^files|c:\\program files|-|' "$work/app.set" >"$work/app.trim" || true
diff "$work/expected.set" "$work/app.trim" >&2 || fail "the differences are not exactly the application's"
if grep -q 'entries added to' "$work/learn.txt"; then
  grep -q 'differences\? hidden as noise (.*--with-noise shows them)' "$work/app.err" ||
    fail "no hidden count on stderr: $(cat "$work/app.err")"
fi

# --with-noise: everything an empty list shows, with the hidden part marked.
"$keldrun" --home "$home" compare 2 3 --json --with-noise >"$work/all.json" 2>/dev/null || true
cp "$home/noise.txt" "$work/learned.txt" 2>/dev/null || : >"$work/learned.txt"
printf '# nothing\n' >"$home/noise.txt"
"$keldrun" --home "$home" compare 2 3 --json >"$work/none.json" 2>/dev/null || true
cp "$work/learned.txt" "$home/noise.txt"
read_set "$work/all.json" | cut -d'|' -f1-4 | sort >"$work/all.set"
read_set "$work/none.json" | cut -d'|' -f1-4 | sort >"$work/none.set"
diff "$work/none.set" "$work/all.set" >&2 || fail "--with-noise does not bring every difference back"
hidden=$(read_set "$work/all.json" | grep -c '|True$' || true)
shown=$(grep -c '' "$work/app.set")
total=$(grep -c '' "$work/all.set")
[ $((total - shown)) -eq 0 ] || [ "$hidden" -gt 0 ] || fail "--with-noise marks none of the hidden differences"

# HKLM\Software\* hides the application's own key, never the Run value.
"$keldrun" --home "$home" noise add 'HKLM\Software\*' >/dev/null || fail "noise add failed"
"$keldrun" --home "$home" compare 2 3 --json >"$work/star.json" 2>/dev/null || true
read_set "$work/star.json" >"$work/star.set"
grep -q '^registry|hkey_local_machine\\software\\microsoft\\windows\\currentversion\\run|add|noisecheckapp|' "$work/star.set" ||
  fail "the Run value was hidden by HKLM\\Software\\*"
! grep -q 'noisecheckapp|add|version' "$work/star.set" || fail "HKLM\\Software\\* did not hide the app's key"
"$keldrun" --home "$home" noise add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' >/dev/null 2>"$work/refused.err" &&
  fail "noise add accepted the Run key"
grep -q 'CurrentVersion\\Run starts with the machine and is never hidden' "$work/refused.err" || fail "refusal does not name the Run key"
"$keldrun" --home "$home" noise undo >/dev/null || fail "noise undo failed"
cmp -s "$home/noise.txt" "$work/learned.txt" || fail "undo did not put the learned list back"
echo "noise_check: learned the restart's noise; the differences are exactly the application's"
