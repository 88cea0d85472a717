#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a user gets: the file list, the
# program's RUNPATH, the managers, the icons, the desktop entries and the metainfo. Then puts the
# probe manager in place of the real one and starts the installed program on the offscreen
# platform, with no LD_LIBRARY_PATH and from a folder that holds a decoy manager, to show that the
# program finds its manager through its RUNPATH. Prints one line per failed check; exits 0 only
# when all hold.
#
# usage: install-test.sh BUILD_DIR PROBE_MANAGER MANAGER_DIR [--sanitized | --deb]
#   MANAGER_DIR  the managers' folder below the prefix, as the build installs it
#   --sanitized  the build uses AddressSanitizer, whose dlopen stands in for the program's: the
#                loader then searches the sanitizer library's RUNPATH, not the program's, so the
#                installed program cannot find its manager and is not started
#   --deb        instead of `cmake --install`: the Debian package is made with CPack into a
#                temporary folder, its control fields checked, lintian run on it, and it is
#                extracted with dpkg-deb -x; the checks above then run on the extracted tree.
#                Exits 77 (skipped) when all checks hold but lintian or appstreamcli is missing.
set -uo pipefail

build=$1 probe=$2 managers=$3 mode=${4:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/cdrw-install-XXXXXX")
prefix=$work/prefix
program_pid=
skipped=
# shellcheck disable=SC2317 # run by the EXIT trap
cleanup() {
  [ -n "$program_pid" ] && kill -KILL "$program_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "CHECK FAILED: $*"
  failures=$((failures + 1))
}
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  if [ -n "$skipped" ]; then
    echo "skipped:$skipped (every other check holds)"
    exit 77
  fi
  echo "install test: all checks hold"
  exit 0
}

# A copy of a built library as the package holds it (CPack strips what it installs).
as_installed() {
  if [ "$mode" = --deb ]; then
    strip -o "$work/stripped" "$1" && echo "$work/stripped"
  else
    echo "$1"
  fi
}

if [ "$mode" = --deb ]; then
  if ! (cd "$build" && cpack -G DEB -B "$work/cpack") >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "CHECK FAILED: cpack -G DEB"
    exit 1
  fi
  deb=$(find "$work/cpack" -maxdepth 1 -name '*.deb')
  version=$(dpkg-deb -f "$deb" Version)
  [ "$(basename "$deb")" = "cdrw-fwupdate_${version}_$(dpkg --print-architecture).deb" ] ||
    fail "package file is named $(basename "$deb")"
  for field in Section Priority Maintainer Description; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "control field $field is empty"
  done
  # dpkg-shlibdeps names what the program and the real manager link.
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in libqt6widgets6 libsgutils2; do
    grep -q "\b$library" <<<"$depends" || fail "Depends does not name $library: $depends"
  done
  if command -v lintian >/dev/null; then
    # Warnings count too: every one lintian gives is ours to fix.
    lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
      fail "lintian: $(cat "$work/lintian.log")"
  else
    skipped+=" lintian not installed (Debian package lintian);"
  fi
  dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x"
  [ "$(ls -A "$work/root")" = usr ] || fail "the package holds more than /usr: $(ls -A "$work/root")"
  prefix=$work/root/usr
elif ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "CHECK FAILED: cmake --install"
  exit 1
fi

# Exactly these files, nothing else.
expected="./bin/cdrw-fwupdate
./bin/cdrw-fwupdate-demo
./$managers/sim/wnaspi32.DLL
./$managers/wnaspi32.DLL
./share/applications/cdrw-fwupdate-demo.desktop
./share/applications/cdrw-fwupdate.desktop
./share/cdrw-fwupdate/examples/lix0101.hex
./share/doc/cdrw-fwupdate/changelog.gz
./share/doc/cdrw-fwupdate/copyright
./share/icons/hicolor/16x16/apps/cdrw-fwupdate.png
./share/icons/hicolor/32x32/apps/cdrw-fwupdate.png
./share/icons/hicolor/48x48/apps/cdrw-fwupdate.png
./share/man/man1/cdrw-fwupdate-demo.1.gz
./share/man/man1/cdrw-fwupdate.1.gz
./share/metainfo/example.cdrw_fwupdate.CdrwFwupdate.metainfo.xml"
actual=$(cd "$prefix" && find . ! -type d | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "installed files differ:$(diff <(echo "$expected") <(echo "$actual") | grep '^[<>]')"

# The program: executable, finding its manager beside itself and nowhere else.
program=$prefix/bin/cdrw-fwupdate
[ -x "$program" ] || fail "bin/cdrw-fwupdate is not executable"
dynamic=$(readelf -d "$program")
runpath=$(sed -n 's/.*(RUNPATH).*Library runpath: \[\(.*\)\]$/\1/p' <<<"$dynamic")
[ "$runpath" = "\$ORIGIN/../$managers" ] || fail "RUNPATH is '$runpath'"
grep -q '(RPATH)' <<<"$dynamic" && fail "the program carries an RPATH besides its RUNPATH"

# Each manager is the one built for its place.
cmp -s "$prefix/$managers/wnaspi32.DLL" "$(as_installed "$build/lib/wnaspi32.DLL")" ||
  fail "$managers/wnaspi32.DLL is not the real manager"
cmp -s "$prefix/$managers/sim/wnaspi32.DLL" "$(as_installed "$build/sim/wnaspi32.DLL")" ||
  fail "$managers/sim/wnaspi32.DLL is not the simulator"

# Each icon is a PNG of its folder's size (width and height from the IHDR chunk).
for size in 16 32 48; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/cdrw-fwupdate.png
  signature=$(od -An -tx1 -N8 "$icon" | tr -d ' \n')
  read -r width height < <(od -An -tu4 --endian=big -j16 -N8 "$icon")
  [ "$signature" = 89504e470d0a1a0a ] || fail "$size px icon is not a PNG"
  [ "${width:-}x${height:-}" = "${size}x${size}" ] || fail "$size px icon is ${width:-?}x${height:-?}"
done

# Each desktop entry starts its installed command by name and shows the installed icon.
for command in cdrw-fwupdate cdrw-fwupdate-demo; do
  entry=$prefix/share/applications/$command.desktop
  grep -qx "Exec=$command" "$entry" || fail "$command.desktop: Exec is not $command"
  grep -qx 'Icon=cdrw-fwupdate' "$entry" || fail "$command.desktop: Icon is not cdrw-fwupdate"
  if command -v desktop-file-validate >/dev/null; then
    # Hints are suggestions; errors and warnings are faults.
    validation=$(desktop-file-validate "$entry" 2>&1)
    status=$?
    problems=$(grep -E '(error|warning):' <<<"$validation")
    if [ "$status" != 0 ] || [ -n "$problems" ]; then
      fail "desktop-file-validate $command.desktop: $validation"
    fi
  else
    echo "note: desktop-file-validate not found (Debian package desktop-file-utils); $command.desktop not validated"
  fi
done

if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml >"$work/appstream.log" 2>&1 ||
    fail "appstreamcli validate: $(cat "$work/appstream.log")"
elif [ "$mode" = --deb ]; then
  skipped+=" appstreamcli not installed (Debian package appstream);"
else
  echo "note: appstreamcli not found (Debian package appstream); metainfo not validated"
fi

if [ "$mode" = --sanitized ]; then
  echo "note: sanitizer build; the installed program is not started"
  finish
fi

# Start the installed program with the probe in the real manager's place.
cp "$probe" "$prefix/$managers/wnaspi32.DLL"
mkdir "$work/decoy"
cp "$probe" "$work/decoy/wnaspi32.DLL"
report=$work/probe-report
(cd "$work/decoy" &&
  exec env -u LD_LIBRARY_PATH -u LD_PRELOAD QT_QPA_PLATFORM=offscreen CDRW_PROBE_REPORT="$report" \
    "$program" >"$work/program.log" 2>&1) &
program_pid=$!

# The report appears when the program binds its manager, early in start-up.
for _ in $(seq 200); do
  [ -f "$report" ] && break
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.05
done
if [ ! -f "$report" ]; then
  if kill -0 "$program_pid" 2>/dev/null; then
    fail "the program did not bind a manager within 10 s: $(cat "$work/program.log")"
  else
    wait "$program_pid"
    fail "the program ended with status $? before binding a manager: $(cat "$work/program.log")"
  fi
else
  manager=$(realpath "$prefix/$managers/wnaspi32.DLL")
  loaded=$(sed -n 's/^loaded //p' "$report")
  if [ -z "$loaded" ] || [ "$(realpath "$loaded")" != "$manager" ]; then
    fail "the manager was loaded from '$loaded', not from $managers"
  fi
  mapped=$(sed -n 's/^mapped //p' "$report" | sort -u)
  [ "$mapped" = "$manager" ] || fail "mapped managers: '$mapped', expected only $manager"
  # With no adapter the program shows its window and waits for the user: it must still run.
  sleep 0.3
  kill -0 "$program_pid" 2>/dev/null ||
    fail "the program ended right after binding: $(cat "$work/program.log")"
fi
kill -TERM "$program_pid" 2>/dev/null
wait "$program_pid" 2>/dev/null
program_pid=

finish
