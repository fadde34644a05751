#!/bin/sh
# Runs a command in a network namespace of its own that holds nothing but
# loopback (up). The viewer starts discovery as soon as its window is set
# up, and discovery broadcasts on every interface it finds: here it finds
# none, so no datagram of an application test leaves this namespace. Tests
# that need peers on other addresses build their own network inside.
# Refuses to run the command when no namespace can be made.
set -eu
if [ "${QM_PRIVATE_NETWORK:-}" != "$$" ]; then
    for how in "-n" "-r -n"; do
        # shellcheck disable=SC2086
        if unshare $how true 2>/dev/null; then
            # shellcheck disable=SC2086
            exec unshare $how sh -c 'QM_PRIVATE_NETWORK=$$ exec "$0" "$@"' "$0" "$@"
        fi
    done
    echo "run_private_network: cannot create a network namespace; not running $*" >&2
    exit 1
fi
unset QM_PRIVATE_NETWORK
ip link set lo up
if [ "$(ip -o link show | wc -l)" != 1 ]; then
    echo "run_private_network: the new network namespace is not empty" >&2
    exit 1
fi
exec "$@"
