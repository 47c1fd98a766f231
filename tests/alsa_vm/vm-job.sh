#!/usr/bin/env bash
# Runs inside the ALSA test VM, in the host's root: runs the job's command in the caller's folder
# with the caller's environment.
# usage: vm-job.sh JOB_DIR   (JOB_DIR holds env, cwd and command, written by run-in-vm.sh)
set -uo pipefail
job=$1
# shellcheck disable=SC1091
source "$job/env"
export XDG_RUNTIME_DIR=/dev/shm/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

cd "$(cat "$job/cwd")" || exit 125
eval "$(cat "$job/command")"
