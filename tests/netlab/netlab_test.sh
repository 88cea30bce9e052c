#!/usr/bin/env bash
# Checks the network lab itself: the LAN it builds, the variant without a
# default route, extra hosts with their own names, that what a command leaves
# running dies with the lab, and that nothing runs in the machine's namespace.
# Runs outside any lab; exits 77 where labs can't be made.
set -uo pipefail
netlab=${1:?usage: netlab_test.sh PATH/TO/netlab}
failures=0
check() { # NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    echo "PASS: $1"
  else
    echo "FAIL: $1"
    echo "   expected: $2"
    echo "   actual:   $3"
    failures=$((failures + 1))
  fi
}

"$netlab" -- true
status=$?
if [ "$status" -eq 77 ]; then
  echo "SKIP: network namespaces unavailable here"
  exit 77
fi
check "an empty command succeeds" 0 "$status"

check "the lab's address and broadcast" "inet 198.18.0.1/24 brd 198.18.0.255" \
  "$("$netlab" -- ip -o -4 addr show dev lab0 | awk '{print $3, $4, $5, $6}')"
check "only loopback and the veth pair" "lab0 lab1 lo" \
  "$("$netlab" -- ls /sys/class/net | sort | tr '\n' ' ' | sed 's/ $//')"
check "a default route over lab0" "default dev lab0 scope link" \
  "$("$netlab" -- ip -4 route show default | awk '{$1=$1; print}')"
check "the limited broadcast has a route" "broadcast 255.255.255.255 dev lab0" \
  "$("$netlab" -- ip -4 route get 255.255.255.255 | head -n1 | awk '{print $1, $2, $3, $4}')"
check "no default route when asked" "" \
  "$("$netlab" --no-default-route -- ip -4 route show default)"
check "without the route the subnet is still there" "198.18.0.0/24 dev lab0" \
  "$("$netlab" --no-default-route -- ip -4 route show 198.18.0.0/24 | awk '{print $1, $2, $3}')"
check "every lab is a different namespace from the machine's" "different" \
  "$(here=$(readlink /proc/self/ns/net); "$netlab" -- sh -c "[ \"\$(readlink /proc/self/ns/net)\" != '$here' ] && echo different")"

"$netlab" -- sh -c 'exit 42'
check "the command's exit status comes back" 42 "$?"

check "hosts get their own names and share the lab" "SRV-ONE SRV-TWO $(hostname) same" \
  "$("$netlab" -- bash -c "
      a=\$('$netlab' host SRV-ONE -- hostname)
      b=\$('$netlab' host SRV-TWO -- sh -c 'hostname; readlink /proc/self/ns/net')
      echo \$a \$(echo \"\$b\" | head -n1) \$(hostname) \$([ \"\$(echo \"\$b\" | tail -n1)\" = \"\$(readlink /proc/self/ns/net)\" ] && echo same)")"
check "a bad host name is refused" 2 \
  "$("$netlab" -- "$netlab" host 'bad name' -- true 2>/dev/null; echo $?)"

check "a host outside a lab is refused" "2 1" \
  "$("$netlab" host SRV-ONE -- true 2>/dev/null; echo $? $(("$netlab" host X -- true 2>&1 >/dev/null) | wc -l))"
check "a copied marker does not make the machine a lab" 2 \
  "$(LANFINDER_NETLAB=$(readlink /proc/self/ns/net) LANFINDER_NETLAB_PARENT= "$netlab" host SRV-ONE -- true 2>/dev/null; echo $?)"

marker=netlab-leftover-$$
"$netlab" -- bash -c "setsid bash -c 'exec -a $marker sleep 300' </dev/null >/dev/null 2>&1 & sleep 0.2"
sleep 0.3
check "what a command leaves running dies with the lab" "" "$(pgrep -f "$marker" || true)"

"$netlab" -- bash -c "trap 'exit 9' TERM; sleep 300 & wait" &
lab=$!
sleep 1
kill -TERM "$lab"
wait "$lab"
check "SIGTERM reaches the command and its status comes back" 9 "$?"

check "an unknown option is refused" 2 "$("$netlab" --frobnicate true 2>/dev/null; echo $?)"

[ "$failures" -eq 0 ] && echo "all passed" || echo "$failures failed"
[ "$failures" -eq 0 ]
