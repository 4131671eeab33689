#!/bin/sh
# An --on-alarm command: mails each alarm raise and clear, and each link loss
# and return, through the local sendmail (any MTA that provides it). Without
# sendmail it only says so on standard error, which the monitor logs.
#
#   "on-alarm": "/usr/share/doc/trm27k/examples/on-alarm-mail.sh"
#
# The facts come in TRM27K_* environment variables; the device's texts are
# used only as data, never run. Set TRM27K_MAIL_TO in the service's
# environment (systemctl edit trm27k-monitor: Environment=TRM27K_MAIL_TO=...).
set -eu
to="${TRM27K_MAIL_TO:-root}"
sendmail=$(command -v sendmail || true)
[ -x /usr/sbin/sendmail ] && sendmail=/usr/sbin/sendmail
if [ -z "$sendmail" ]; then
    echo "on-alarm-mail: no sendmail here; nothing sent for ${TRM27K_EVENT:-?}" >&2
    exit 1
fi
case "${TRM27K_EVENT:-}" in
    raised|cleared) subject="[${TRM27K_SITE:-site}] level ${TRM27K_LEVEL:-?} alarm ${TRM27K_EVENT}: ${TRM27K_NAME_EN:-}" ;;
    *) subject="[${TRM27K_SITE:-site}] ${TRM27K_EVENT:-event}" ;;
esac
{
    printf 'To: %s\nSubject: %s\nContent-Type: text/plain; charset=UTF-8\n\n' "$to" "$subject"
    printf 'Site:    %s\nEvent:   %s\nTime:    %s\n' "${TRM27K_SITE:-}" "${TRM27K_EVENT:-}" "${TRM27K_TIME:-}"
    if [ -n "${TRM27K_NAME:-}" ]; then
        printf 'Level:   %s\nAlarm:   %s\n         %s\nDetail:  %s\nData id: %s\n' "${TRM27K_LEVEL:-}" \
            "${TRM27K_NAME_EN:-}" "${TRM27K_NAME:-}" "${TRM27K_DETAIL:-}" "${TRM27K_DATA_ID:-}"
    fi
} | "$sendmail" -t
