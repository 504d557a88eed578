#!/usr/bin/env bash
# The installed bundle as hosts see it: its Turtle (and that of a preset bundle beside it)
# valid against the LV2 schemas, the plugin listed, every port and preset shown.
#   check_installed_bundle.sh LV2_FOLDER URI SYMBOL... -- PRESET_LABEL...
set -uo pipefail
folder=$(cd "$1" && pwd) uri=$2
shift 2
symbols=()
while [[ $# -gt 0 && $1 != -- ]]; do
    symbols+=("$1")
    shift
done
shift
failed=0
fail() {
    echo "check_installed_bundle: $*" >&2
    failed=1
}

# lv2_validate exits 0 whatever it finds; its summary line counts the errors.
report=$(lv2_validate "$folder"/*.lv2/*.ttl 2>&1)
errors=$(sed -n 's/^Found \([0-9]*\) errors.*/\1/p' <<<"$report")
[[ -n $errors ]] || fail "lv2_validate printed no summary: $report"
[[ ${errors:-1} -eq 0 ]] || fail "lv2_validate: $report"

export LV2_PATH=$folder
grep -qxF "$uri" < <(lv2ls) || fail "lv2ls does not list $uri: $(lv2ls)"
info=$(lv2info "$uri" 2>&1) || fail "lv2info failed: $info"
for symbol in "${symbols[@]}"; do
    grep -qE "^[[:space:]]*Symbol:[[:space:]]+$symbol\$" <<<"$info" || fail "lv2info shows no port $symbol"
done
for label in "$@"; do
    grep -qF "$label" <<<"$info" || fail "lv2info shows no preset $label"
done
# Hosts keep the instance's bindings with the session only when it names the interface.
grep -qE '^[[:space:]]*Extension Data:.*state#interface$' <<<"$info" ||
    fail "lv2info shows no state interface"
count=$(grep -cE '^[[:space:]]*Symbol:' <<<"$info")
[[ $count -eq ${#symbols[@]} ]] || fail "lv2info shows $count ports, expected ${#symbols[@]}"
[[ $failed -eq 0 ]] && echo "check_installed_bundle: $uri valid with ${#symbols[@]} ports"
exit $failed
