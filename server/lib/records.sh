# Sourced by start.sh and stop.sh: where the records of the servers started for a data folder lie,
# and whether a recorded pid is still the process that was started.

# The folder of root's own files for DATA (pid and settings files, generated configuration, the
# logs root's processes write): DATA itself while DATA is the caller's own, otherwise a folder
# beside it that only root can write. The service user may change anything in its data folder,
# so root neither trusts nor writes a path there.
records_folder() {
  if [ "$(id -u)" = 0 ] && [ "$(stat -c %u "$1" 2>/dev/null)" != 0 ]; then echo "$1.root"; else echo "$1"; fi
}

# The pid files hold the pid and the process's start time, so a reused pid is not taken for ours.
started_at() { awk '{print $22}' "/proc/$1/stat" 2>/dev/null; }

# ours PID WHEN: still the process started then; a zombie waiting to be reaped counts as gone.
ours() {
  local st
  [ -n "$2" ] && [ "$(started_at "$1")" = "$2" ] && st=$(ps -o stat= -p "$1" 2>/dev/null) && [[ $st != Z* ]]
}
