# Shell functions the scripts share for starting X servers of their own;
# sourced, not run.

# Prints the first display number from $1 up with neither a socket nor a
# lock file.
free_display() {
    n=$1
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    echo "$n"
}

# Waits until the server on display :$1 answers, for up to ten seconds; $2
# names the script in the message when it does not.
wait_for_display() {
    i=0
    while ! xdpyinfo -display ":$1" >/dev/null 2>&1; do
        i=$((i + 1))
        if [ "$i" -gt 100 ]; then echo "$2: X server :$1 did not start" >&2; return 1; fi
        sleep 0.1
    done
}
