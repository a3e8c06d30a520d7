#!/bin/sh
# demo.sh - builds everything and runs one real update of a sample bundle, end to end.
#
# Lays out an outdated and an up-to-date sample bundle in a fresh temporary
# folder, starts a caller process that quits a moment later, runs the built
# Updater.app with the caller's pid, then shows the restarted application's
# marker, where the old bundle went (the Trash below the folder) and the log.
# Usage: updater/demo.sh [build folder]   (default: build)
set -eu

SOURCE=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
cmake -S "$SOURCE" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j8 --target updater open_command >/dev/null
BUILD=$(cd "$BUILD" && pwd)

WORK=$(mktemp -d "${TMPDIR:-/tmp}/updater-demo-XXXXXX")
make_bundle() {  # name, content
    mkdir -p "$WORK/$1/Contents/MacOS"
    cat >"$WORK/$1/Contents/Info.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>CFBundleExecutable</key>
	<string>sample</string>
</dict>
</plist>
PLIST
    printf '#!/bin/sh\necho "%s restarted with: $*" > "%s/restarted.txt"\n' "$2" "$WORK" >"$WORK/$1/Contents/MacOS/sample"
    chmod 755 "$WORK/$1/Contents/MacOS/sample"
    echo "$2" >"$WORK/$1/Contents/version.txt"
}
make_bundle "Sample.app" "version 1"
make_bundle "Sample-new.app" "version 2"

# The caller: quits one second after the updater started.
sleep 1 &
CALLER=$!

echo "Updating $WORK/Sample.app (caller pid $CALLER)..."
STATUS=0
PATH="$BUILD/open:$PATH" XDG_DATA_HOME="$WORK/data" BKIT_NOTICE_DIR="$WORK" \
    "$BUILD/Updater.app/Contents/MacOS/updater" --pid "$CALLER" --log-dir "$WORK/logs" --restart-headless \
    "$WORK/Sample.app" "$WORK/Sample-new.app" || STATUS=$?
wait "$CALLER" 2>/dev/null || true
sleep 0.2
echo "Exit code: $STATUS"
echo "Installed: $(cat "$WORK/Sample.app/Contents/version.txt")"
echo "Restarted: $(cat "$WORK/restarted.txt" 2>/dev/null || echo '(not yet)')"
echo "Old bundle: $(find "$WORK/data" -maxdepth 3 -name 'Sample_old*' 2>/dev/null | head -1)"
echo "Log:"
cat "$WORK"/logs/*_log_1.txt
echo "(everything is in $WORK)"
