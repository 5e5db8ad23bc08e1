# Shared by the scenario that drives the real ferretta window on a virtual X server
# (window_use_check.sh) and its steps (*_steps.sh); sourced, not run.
# Several functions run only through trap or waitFor, which shellcheck cannot follow; the
# variables set here are for the sourcing script; conditions are single-quoted for waitFor.
# shellcheck disable=SC2317,SC2148,SC2154,SC2034,SC2016

# A sanitized build of ferretta checks for leaks at exit; the system libraries' own are not ours.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/lsan_suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# The ferretta program of the command line ($1 of the script), or a failure.
requireFerretta() {
    ferretta=${1:-}
    if [[ -z "$ferretta" || ! -x "$ferretta" ]]; then
        echo "FAIL: no ferretta program given (usage: $0 /path/to/ferretta)" >&2
        exit 1
    fi
}

# A display number from $1 up that no other of our checks holds (a lock per number, kept in
# displayLock until releaseDisplayNumber) and no server has taken: xvfb-run -a can hand the
# same free number to two checks started at the same moment. Sets displayNumber.
takeDisplayNumber() {
    displayNumber=${1:-100}
    while ((displayNumber < 600)); do
        exec {displayLock}>"/tmp/ferretta-xvfb-$displayNumber.lock"
        if flock -n "$displayLock" && [[ ! -e "/tmp/.X$displayNumber-lock" ]]; then
            return 0
        fi
        exec {displayLock}>&-
        displayNumber=$((displayNumber + 1))
    done
    echo "FAIL: no free display number" >&2
    exit 1
}
releaseDisplayNumber() { exec {displayLock}>&-; }

# Outside the virtual server: skips (77) when one of the tools given is missing, else runs the
# script again under xvfb-run on a fresh 1280x800 server (not the developer's desktop), which
# hands back the script's own exit code. The server must not reset when its last client leaves
# (-noreset): a program started just as the probe below disconnects would find no display. Inside it returns once the server answers. The
# script's arguments after the program are passed on in innerArgs; innerWrapper (a command such
# as dbus-run-session) runs the inner script when set. A run whose server never answered (its
# display number taken by a server of someone else) is tried again on the next number.
runUnderXvfb() {
    if [[ -n "${FERRETTA_XVFB_INNER:-}" ]]; then
        waitFor 10 xdotool getdisplaygeometry >/dev/null 2>&1 || exit 75
        : >"$FERRETTA_XVFB_INNER"
        return 0
    fi
    [[ -v innerArgs ]] || innerArgs=()
    for tool in xvfb-run Xvfb xauth xdotool "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is missing (the Debian packages are listed in tools/deps/xserver.test)" >&2
            exit 77
        fi
    done
    local answered status attempt number=100
    answered=$(mktemp -u "${TMPDIR:-/tmp}/ferretta-xvfb.XXXXXX")
    for attempt in 1 2 3 4; do
        takeDisplayNumber "$number"
        number=$displayNumber
        # shellcheck disable=SC2086  # no wrapper: nothing at all, not an empty word
        FERRETTA_XVFB_INNER=$answered xvfb-run -n "$number" -s "-screen 0 1280x800x24 -noreset" \
            ${innerWrapper:-} bash "$0" "$ferretta" "${innerArgs[@]}"
        status=$?
        releaseDisplayNumber
        if [[ -e "$answered" ]]; then
            rm -f "$answered"
            exit "$status"
        fi
        echo "(the virtual server :$number did not answer, attempt $attempt)" >&2
        number=$((number + 1))
    done
    echo "FAIL: xvfb-run could not start a server that answers" >&2
    exit 1
}

# Ends process $1: politely, then after 3 s (a modal box may hold it) for good.
stopProcess() {
    local pid=$1 tries=30
    [[ -n "$pid" ]] || return 0
    kill "$pid" 2>/dev/null || return 0
    while ((tries-- > 0)) && kill -0 "$pid" 2>/dev/null; do
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

# Ends the scenario: the step that failed named, a picture of the screen and the last lines of
# ferretta's output beside it.
fail() {
    echo "FAIL (${currentStep:-start}): $*" >&2
    shoot "failure-${currentStep:-start}"
    if [[ -s "${workDir:-}/ferretta.log" ]]; then
        echo "--- ferretta's output:" >&2
        tail -n 20 "$workDir/ferretta.log" >&2
    fi
    if [[ -n "${ferrettaPid:-}" ]] && ! kill -0 "$ferrettaPid" 2>/dev/null; then
        echo "(ferretta is no longer running)" >&2
    fi
    exit 1
}
# A picture of the whole screen in shotDir (when imagemagick's import is there).
shoot() {
    [[ -n "${shotDir:-}" ]] && command -v import >/dev/null 2>&1 || return 0
    timeout 10 import -window root "$shotDir/$1.png" 2>/dev/null && echo "screenshot: $shotDir/$1.png"
}

# Runs the command given until it succeeds, for at most $1 seconds of wall time times
# FERRETTA_WAIT_SCALE (3 unless set): the limits are for a quiet machine, and a loaded CI
# machine or a sanitized build is several times slower. Success returns at once either way.
# Starts a helper program (window manager, panel, tray host) in the background and waits until
# the condition (a function's name) holds; startedPid is its process. A start that ends or never
# gets there is tried again twice, its output shown: CI once saw xfwm4 find no display, and
# trayer never map its window, where every other start does. False after the third try.
startAndWait() {
    local seconds=$1 condition=$2 log=$3 attempt
    shift 3
    for attempt in 1 2 3; do
        "$@" >"$log" 2>&1 &
        startedPid=$!
        waitFor "$seconds" upOrEnded "$condition" && "$condition" && return 0
        echo "$1 did not come up (try $attempt of 3); its output:" >&2
        cat "$log" >&2
        stopProcess "$startedPid"
    done
    return 1
}
upOrEnded() { "$1" || ! kill -0 "$startedPid" 2>/dev/null; }

# A window manager has announced itself (xprop exits 0 also when the property is missing).
hasWindowManager() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

waitFor() {
    local end=$((SECONDS + $1 * ${FERRETTA_WAIT_SCALE:-3}))
    shift
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.1
    done
}

# Types the word into the focused box in place of its text and reads it back through the
# selection (xclip). xdotool types a character missing from the keymap by remapping a spare key
# and reverting it at once; a window busy enough to read the keymap after the revert sees
# another key (the keymap is not ours to change: the server keeps its own). After two tries,
# slower the second time, a word that is not ASCII is pasted with Ctrl+V instead, and the check
# says so: the search that follows is what is being checked.
selectionIs() { [[ "$(xclip -o -selection primary 2>/dev/null)" == "$1" ]]; }
typeWords() {
    local expected=$1 delay
    for delay in 40 250; do
        xdotool key --clearmodifiers ctrl+a BackSpace
        xdotool type --delay "$delay" -- "$expected"
        xdotool key --clearmodifiers ctrl+a
        waitFor 2 selectionIs "$expected" && return 0
    done
    if [[ "$expected" == *[![:ascii:]]* ]]; then
        printf '%s' "$expected" | xclip -selection clipboard
        xdotool key --clearmodifiers ctrl+a BackSpace ctrl+v
        xdotool key --clearmodifiers ctrl+a
        if waitFor 2 selectionIs "$expected"; then
            echo "(\"$expected\" was pasted: xdotool's typing of it was read as other keys)"
            return 0
        fi
    fi
    fail "the box does not hold \"$1\" after typing it (it holds \"$(xclip -o -selection primary 2>/dev/null)\")"
}

# The first visible window titled exactly $1, and whether there is one.
windowNamed() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
hasWindow() { [[ -n "$(windowNamed "$1")" ]]; }
noWindow() { ! hasWindow "$1"; }
# Gives window $1 the keyboard (without a window manager nothing else does).
focusOn() {
    timeout 3 xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
}

# --- a user's desktop and the ferretta window on it

# The panel reserves its strip: the work area (areaX areaY areaWidth areaHeight) is shorter than
# the screen.
workAreaShort() {
    local area
    area=$(xprop -root _NET_WORKAREA 2>/dev/null | sed 's/.*= //; s/,//g')
    read -r areaX areaY areaWidth areaHeight _ <<<"$area"
    [[ "${areaHeight:-}" =~ ^[0-9]+$ ]] && ((areaHeight < 800))
}

# The window manager $1 (openbox or xfwm4) with its panel at the bottom of the screen, a tray in
# it, as a user's desktop has them; wmPid and panelPid are theirs, their output in $2. xfwm4's
# panel keeps its settings in xfconf, reached over the session bus the scenario runs on.
startDesktop() {
    local logs=$2
    if [[ "$1" == openbox ]]; then
        startAndWait 5 hasWindowManager "$logs/wm.log" openbox || fail "openbox did not start"
        wmPid=$startedPid
        printf '%s\n' 'panel_items = TS' 'panel_position = bottom center horizontal' \
            'panel_size = 100% 30' 'panel_layer = top' 'strut_policy = follow_size' \
            'systray_icon_size = 22' >"$logs/tint2rc"
        startAndWait 30 workAreaShort "$logs/panel.log" tint2 -c "$logs/tint2rc" ||
            fail "the panel reserved no room at the bottom"
        panelPid=$startedPid
        return
    fi
    # A home of its own for the panel's settings, also for the settings service the bus starts.
    export HOME=$logs/xfce XDG_CONFIG_HOME=$logs/xfce/.config
    dbus-update-activation-environment HOME XDG_CONFIG_HOME
    mkdir -p "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
    cat >"$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=8;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="30"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/><value type="int" value="2"/><value type="int" value="3"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="tasklist"/>
    <property name="plugin-2" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
    </property>
    <property name="plugin-3" type="string" value="systray"/>
  </property>
</channel>
EOF
    startAndWait 10 hasWindowManager "$logs/wm.log" xfwm4 || fail "xfwm4 did not start"
    wmPid=$startedPid
    startAndWait 30 workAreaShort "$logs/panel.log" xfce4-panel ||
        fail "the panel reserved no room at the bottom"
    panelPid=$startedPid
}

# --- the steps: each in a work folder of its own (workDir) below the scenario's, ferretta
# ended at its end whatever it left running.
beginStep() {
    currentStep=$1
    workDir=$scenarioDir/$1
    mkdir -p "$workDir/home"
    stepStarted=$SECONDS
}
endStep() {
    stopProcess "$ferrettaPid"
    ferrettaPid=""
    echo "ok: $currentStep ($((SECONDS - stepStarted)) s)"
}
# True when the tools a step needs beyond the scenario's are there; otherwise says that the
# step is left out.
stepNeeds() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $currentStep ($tool is missing)"
            return 1
        fi
    done
}

# Starts ferretta from workDir with its data folder $workDir/home (the caller writes frtta.ini
# there), its output in workDir/ferretta.log, and waits for its window: ferrettaPid, mainWindow.
startFerretta() {
    mkdir -p "$workDir/home"
    (cd "$workDir" && FERRETTA_HOME="$workDir/home" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 \
        exec "$ferretta" >>"$workDir/ferretta.log" 2>&1) &
    ferrettaPid=$!
    waitFor 10 findMain || fail "the window titled Ferretta was not mapped within 10 s"
}
findMain() {
    mainWindow=$(xdotool search --onlyvisible --name '^Ferretta$' 2>/dev/null | head -n 1)
    [[ -n "$mainWindow" ]]
}
isViewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
isMainVisible() { isViewable "$mainWindow"; }
# Client geometry (X Y WIDTH HEIGHT) of the main window and the frame around it (frameLeft ...).
# (xwininfo: xdotool counts the frame's offset twice under a reparenting window manager.)
readGeometry() {
    local info extents
    info=$(xwininfo -id "$mainWindow" 2>/dev/null) || return 1
    X=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
    Y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
    WIDTH=$(awk '/Width:/ {print $2}' <<<"$info")
    HEIGHT=$(awk '/Height:/ {print $2}' <<<"$info")
    extents=$(xprop -id "$mainWindow" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ',')
    read -r frameLeft frameRight frameTop frameBottom <<<"${extents:-}"
}
isCompact() { isMainVisible && readGeometry && ((HEIGHT < 100)); }
isNormal() { isMainVisible && readGeometry && ((HEIGHT >= 300)); }
focusMain() {
    timeout 3 xdotool windowactivate --sync "$mainWindow" 2>/dev/null ||
        xdotool windowactivate "$mainWindow" 2>/dev/null
}
# The message boxes of ferretta: its other windows titled Ferretta.
messageBox() {
    xdotool search --onlyvisible --name '^Ferretta$' 2>/dev/null | grep -vx "$mainWindow" | head -n 1
}
hasMessageBox() { [[ -n "$(messageBox)" ]]; }
# Ends ferretta through ﾌｧｲﾙ > 終了 of the normal form (its Alt+F is the search button's, so the
# menu is opened with a click) and waits until the process is gone.
# Runs the command given (a key, a click) and waits until it has mapped a menu: ferretta's own,
# or one of the panel's where the panel draws the tray icon's menu itself (xfce4-panel's
# plugin wrapper).
menuWindowCount() { xdotool search --onlyvisible --name '' 2>/dev/null | wc -l; }
opensMenu() {
    local before
    before=$(menuWindowCount)
    "$@"
    waitFor 5 eval '(($(menuWindowCount) > before))'
}
# Opens ﾌｧｲﾙ of the normal form with a click. Another program's window (an office that took the
# front back while it settled) may lie over ours: the click is made only when our window is the
# one under the pointer, and tried again if no menu opened.
# The window manager's frame (the child of the root) that holds the window given, in decimal.
topLevelOf() {
    local id=$1 tree parent root
    for _ in 1 2 3 4 5 6; do
        tree=$(xwininfo -tree -id "$id" 2>/dev/null) || return 1
        root=$(awk '/Root window id:/ {print $4}' <<<"$tree")
        parent=$(awk '/Parent window id:/ {print $4}' <<<"$tree")
        [[ "$parent" == "$root" ]] && break
        id=$parent
    done
    echo $((id))
}
mainUnderPointer() {
    local under
    xdotool mousemove --window "$mainWindow" "$1" 10
    under=$(xdotool getmouselocation --shell 2>/dev/null | sed -n 's/^WINDOW=//p')
    [[ -n "$under" && "$(topLevelOf "$under")" == "$(topLevelOf "$mainWindow")" ]]
}
openFileMenu() {
    local x=${1:-20} try
    for try in 1 2 3; do
        focusMain
        xdotool windowraise "$mainWindow" 2>/dev/null
        waitFor 2 mainUnderPointer "$x" &&
            opensMenu xdotool click 1 && return 0
        echo "ﾌｧｲﾙ: no menu after try $try (main $mainWindow, active $(xdotool getactivewindow 2>/dev/null), $(xdotool getmouselocation 2>/dev/null))"
        xdotool key Escape
    done
    return 1
}
endFerretta() {
    focusMain
    isNormal || xdotool key ctrl+k
    waitFor 5 isNormal || fail "the normal form did not open to reach ﾌｧｲﾙ > 終了"
    openFileMenu || fail "a click on ﾌｧｲﾙ opened no menu"
    xdotool key --clearmodifiers x
    waitFor 10 eval '! kill -0 "$ferrettaPid" 2>/dev/null' || fail "ﾌｧｲﾙ > 終了 did not end ferretta"
    wait "$ferrettaPid" 2>/dev/null
    ferrettaPid=""
}
isActive() { [[ "$(xdotool getactivewindow 2>/dev/null)" == "$1" ]]; }

# The hits of the search that just ended, saved through Ctrl+S (the save dialog, the name
# typed, Enter, the message closed with Enter) and read back as UTF-8 into savedHits.
# shellcheck disable=SC2034  # savedHits is the caller's
saveHits() {
    rm -f "$workDir/saved.csv"
    xdotool key --clearmodifiers ctrl+s
    waitFor 10 hasWindow "検索結果の保存" || fail "Ctrl+S opened no save dialog"
    # The dialog's name box has the keyboard once the dialog is the active window.
    waitFor 5 isActive "$(windowNamed "検索結果の保存")" || fail "the save dialog did not become active"
    xdotool type --delay 20 -- "$workDir/saved.csv"
    xdotool key Return
    waitFor 10 test -s "$workDir/saved.csv" || fail "Ctrl+S wrote no file"
    waitFor 5 messageShown || fail "saving showed no message"
    xdotool key Return
    waitFor 5 eval '! messageShown' || fail "the message after saving did not close with Enter"
    savedHits=$(iconv -f CP932 -t UTF-8 "$workDir/saved.csv")
}
messageShown() { [[ $(xdotool search --onlyvisible --name '^Ferretta$' 2>/dev/null | wc -l) -ge 2 ]]; }
