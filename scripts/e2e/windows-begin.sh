# The start of each Windows end-to-end script (windows*.sh), sourced with
# the script's own arguments, BUILD_WIN OUT_DIR: the helpers of the Linux
# runs and of every Wine run, the X server, and `build` for BUILD_WIN.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
source "$here/../windows/wine-env.sh"
e2e_begin BUILD_WIN "$0" "$@"
build=$program
