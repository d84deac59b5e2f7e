#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Loads the installed bash completion of sessionctl as an interactive shell would and
# asks it to complete a property name after "sessionctl get phone.SipAcc". Prints
# what it offers; fails when it does not load or offers no phone.SipAccount.
# Usage: check-completion.sh COMPLETION_FILE BIN_DIR
completion=$1
PATH="$2:$PATH"
# bash-completion's helpers (_init_completion and the like), when installed.
for lib in /usr/share/bash-completion/bash_completion /etc/bash_completion; do
    if [ -r "$lib" ]; then
        # shellcheck disable=SC1090
        . "$lib"
        break
    fi
done
# shellcheck disable=SC1090
. "$completion" || { echo "$completion does not load"; exit 1; }
spec=$(complete -p sessionctl 2>/dev/null) || { echo "$completion registers no completion for sessionctl"; exit 1; }
function=$(sed -n 's/.*-F \([^ ]*\).*/\1/p' <<<"$spec")
[ -n "$function" ] || { echo "not a completion function: $spec"; exit 1; }

COMP_LINE="sessionctl get phone.SipAcc"
COMP_POINT=${#COMP_LINE}
COMP_WORDS=(sessionctl get phone.SipAcc)
COMP_CWORD=2
COMPREPLY=()
"$function" sessionctl phone.SipAcc get
printf 'offered: %s\n' "${COMPREPLY[*]}"
for word in "${COMPREPLY[@]}"; do
    [ "$word" = phone.SipAccount ] && exit 0
done
echo "\"sessionctl get phone.SipAcc\" is not completed to phone.SipAccount"
exit 1
