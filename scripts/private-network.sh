#!/usr/bin/env bash
# Runs a command in a private network namespace with its loopback up, so that the fixed loopback
# ports of tests and demonstrations never meet another run's: unshare -n as root, else unshare -rn
# (a user namespace, no rights needed). Where neither is allowed it says so on stderr and runs the
# command as it is, on the machine's own loopback.
#   scripts/private-network.sh COMMAND [ARG...]
set -euo pipefail
[[ $# -gt 0 ]] || { echo "usage: private-network.sh COMMAND [ARG...]" >&2; exit 64; }

candidates=("unshare -rn")
[[ $(id -u) == 0 ]] && candidates=("unshare -n" "unshare -rn")
for candidate in "${candidates[@]}"; do
  read -ra unshare <<< "$candidate"
  if "${unshare[@]}" ip link set lo up 2>/dev/null; then
    exec "${unshare[@]}" sh -c 'ip link set lo up && exec "$@"' private-network "$@"
  fi
done
echo "note: no private network namespace here (${candidates[*]} failed, or ip is missing):" \
  "running on the machine's loopback, where another run's ports may collide" >&2
exec "$@"
