#!/usr/bin/env bash
# A private Dovecot POP3 server for the poller's tests and pictures: its own folder, a port on
# 127.0.0.1 only, its own users; the packaged service is never touched.
#
#   dovecot-instance.sh start DIR PORT      write the configuration and start it
#   dovecot-instance.sh user DIR NAME PASSWORD
#                                           add a mailbox user
#   dovecot-instance.sh deliver DIR NAME FILE
#                                           put FILE (a whole message) into NAME's mailbox
#   dovecot-instance.sh stop DIR            stop it and remove DIR
set -euo pipefail

command=$1
dir=$2

config() { echo "$dir/dovecot.conf"; }

mail_owner() {
  # Dovecot does not serve mail as root: a root caller lends the mailboxes to "nobody".
  if [[ $(id -u) -eq 0 ]]; then echo "nobody:nogroup"; else echo "$(id -un):$(id -gn)"; fi
}

case $command in
  start)
    port=$3
    mkdir -p "$dir"/{run,state,mail}
    dir="$(cd "$dir" && pwd)"
    owner=$(mail_owner)
    uid=$(id -u "${owner%%:*}")
    gid=$(getent group "${owner##*:}" | cut -d: -f3)
    touch "$dir/passwd"
    if [[ $(id -u) -eq 0 ]]; then
      login_user=dovenull
      internal_user=dovecot
    else
      login_user=$(id -un)
      internal_user=$(id -un)
    fi
    cat >"$(config)" <<CONF
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
auth_failure_delay = 0
default_login_user = $login_user
default_internal_user = $internal_user
first_valid_uid = $uid
first_valid_gid = $gid
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/passwd
}
userdb {
  driver = static
  args = uid=$uid gid=$gid home=$dir/mail/%u
}
mail_location = maildir:~/Maildir
pop3_uidl_format = %g
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $port
  }
}
service anvil {
  chroot =
}
service stats {
  unix_listener stats-reader {
    mode = 0666
  }
  unix_listener stats-writer {
    mode = 0666
  }
}
CONF
    chmod 755 "$dir" "$dir/mail"
    /usr/sbin/dovecot -c "$(config)"
    # Ready when the port answers with the greeting.
    for _ in $(seq 100); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then exit 0; fi
      sleep 0.1
    done
    echo "dovecot-instance: Dovecot did not start; see $dir/dovecot.log" >&2
    exit 1
    ;;
  user)
    echo "$3:{PLAIN}$4" >>"$dir/passwd"
    mkdir -p "$dir/mail/$3/Maildir"/{new,cur,tmp}
    chown -R "$(mail_owner)" "$dir/mail/$3"
    ;;
  deliver)
    name=$3
    target="$dir/mail/$name/Maildir/new/$(date +%s).$RANDOM$RANDOM.test"
    cp "$4" "$target"
    chown "$(mail_owner)" "$target"
    ;;
  stop)
    if [[ -e $(config) ]]; then
      /usr/sbin/dovecot -c "$(config)" stop 2>/dev/null || true
      for _ in $(seq 50); do
        [[ -e $dir/run/master.pid ]] || break
        sleep 0.1
      done
    fi
    rm -rf "$dir"
    ;;
  *)
    echo "usage: dovecot-instance.sh start|user|deliver|stop DIR ..." >&2
    exit 2
    ;;
esac
