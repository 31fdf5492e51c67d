#!/usr/bin/env bash
# The packaged bash completion against the built programs: commands, each
# bench command's options, and the setup actions.
#   completion-test.sh COMPLETION_FILE WAVECATCH HALVIO_SIM
set -uo pipefail
source "$1"
wavecatch="$2" sim="$3"
status=0
expect() {
    local want="$1" fn="$2"
    shift 2
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "$fn"
    if [[ " ${COMPREPLY[*]} " != *" $want "* ]]; then
        echo "FAIL: '${COMP_WORDS[*]}' offers '${COMPREPLY[*]}', not '$want'"
        status=1
    fi
}
for cmd in measure setup screen find scpi capture demo doctor show record; do
    expect "$cmd" _wavecatch "$wavecatch" "${cmd:0:3}"
done
expect --address _wavecatch "$wavecatch" measure --
expect --only _wavecatch "$wavecatch" measure --o
expect --block-out _wavecatch "$wavecatch" scpi --
expect --invert _wavecatch "$wavecatch" screen --
expect --host _wavecatch "$wavecatch" find --h
expect --from _wavecatch "$wavecatch" setup restore --f
expect restore _wavecatch "$wavecatch" setup re
expect --chan1 _halvio_sim "$sim" --ch
expect --max-size _wavecatch "$wavecatch" record --max
exit $status
