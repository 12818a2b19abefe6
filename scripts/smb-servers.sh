#!/usr/bin/env bash
# Runs a command beside real SMB servers (Samba's smbd), in network, mount and
# process namespaces of its own: the servers listen on loopback addresses that
# exist only there, their names are found through a hosts file that exists
# only there, and every process is gone when the command ends.
#
#   smb-servers.sh [--down NAME]... [--silent NAME]... [--alias OTHER=NAME]...
#                  [--guest NAME]... [--delay NAME=MS]... [--dc NAME=ACCOUNT[,ACCOUNT]...]
#                  [--no-ntlm] [--odd NAME=USER:PASS] [NAME=ACCOUNT[,ACCOUNT]...]... -- COMMAND [ARG]...
#
# Each NAME is a server with those accounts: USER:PASS an administrator, who
# may write HKLM; ro=USER:PASS an ordinary user, who may log on and read it
# but not write it. A --down NAME has an address and no server; a --silent
# NAME a server that takes connections and never answers (a stopped smbd).
# An --alias OTHER=NAME is another name (UTF-8) of server NAME's address. A
# --guest NAME server takes an unknown account as its guest, as many do. A
# --delay NAME=MS server is reached through a relay that adds MS milliseconds
# to every round trip (veskcfg-relay: $VESKCFG_RELAY, else the one in
# build/linux), as a server across a slow link is; its own address is
# another, which only the relay uses. The relay also cuts a connection at
# the request $VESKCFG_SMB_LAB/NAME/cut names ("before N" or "after N", see
# tools/support/relay.cc), and logs each connection's requests, and the
# pipes they opened, in cut.log.
#
# A --dc NAME is a Samba AD DC of domain R, realm R.LAB (its host dc1.r.lab),
# instead of a standalone server; its accounts are domain accounts: USER:PASS
# a Domain Admin, ro=USER:PASS a domain user, and for logons that must fail
# disabled=, expired= (the account), pwexpired= (the password) and
# mustchange= (at the next logon). Three wrong passwords lock an account.
# Its aliases are also names of its own in Kerberos (cifs/ALIAS). --no-ntlm
# makes it refuse NTLM, as a domain that allows Kerberos only does.
#
# An --odd NAME is no Samba but a winreg server of the tests' own
# (tests/support/odd_winreg_server.py, with python3-impacket), which answers
# as $VESKCFG_SMB_LAB/NAME/behaviour tells it, wrongly included. The
# provision is made once and kept in $VESKCFG_AD_PROVISION when that names a
# file (it is reused while it was made for the same DC, the same day).
# $VESKCFG_SMB_LAB/krb5.conf names R.LAB the default realm and is the one
# KRB5_CONFIG names; krb5-norealm.conf knows the realm's KDC but names no
# default realm (without a DC, krb5.conf names no realm at all). The
# DC's authentication logs (auth_audit) are $VESKCFG_SMB_LAB/NAME/log/log.samba,
# the KDC's, and log.smbd beside it, the sessions'. With a DC the machine's
# smb.conf says what a member's does: workgroup R, realm R.LAB.
#
# Nothing of the machine's Samba or Kerberos state reaches the lab: Samba's
# runtime, state, cache and log folders are empty tmpfs here, smb.conf is
# empty and krb5.conf the lab's own; none of it outlives the lab.
# VESKCFG_SMB_LOG_LEVEL sets the servers' log level (1).
# COMMAND finds each server's smb.conf at $VESKCFG_SMB_LAB/NAME/smb.conf (for
# `net -s ... registry`). Exits with COMMAND's status; 77, with one line on
# standard error, when not root or when Samba is not installed.
set -euo pipefail

if [ "${1:-}" != --inside ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "smb-servers.sh: not root, so no network namespace: the Samba servers are not started" >&2
    exit 77
  fi
  programs="smbd smbpasswd net unshare ip"
  [[ " $* " == *" --dc "* ]] && programs+=" samba samba-tool"
  [[ " $* " == *"pwexpired="* ]] && programs+=" faketime"
  if [[ " $* " == *" --odd "* ]] && ! /usr/bin/python3 -c 'import impacket' 2>/dev/null; then
    echo "smb-servers.sh: python3-impacket is missing (apt-get install python3-impacket): the servers are not started" >&2
    exit 77
  fi
  for program in $programs; do
    if ! command -v "$program" >/dev/null && [ ! -x "/usr/sbin/$program" ]; then
      echo "smb-servers.sh: $program is missing (apt-get install samba samba-ad-dc faketime iproute2): the Samba servers are not started" >&2
      exit 77
    fi
  done
  if [[ " $* " == *" --dc "* ]] && [ ! -d /usr/share/samba/setup/ad-schema ]; then
    echo "smb-servers.sh: Samba's AD schema is missing (apt-get install samba-ad-provision): the Samba servers are not started" >&2
    exit 77
  fi
  exec unshare --net --mount --pid --fork --mount-proc --propagation private -- "$0" --inside "$@"
fi
shift
PATH=$PATH:/usr/sbin:/sbin

servers=() down=() silent=() guests=" " dcs=() ntlm=yes odd=()
declare -A delays
declare -A aliases
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  case $1 in
    --down) down+=("$2"); shift 2 ;;
    --alias) aliases[${2#*=}]+=" ${2%%=*}"; shift 2 ;;
    --guest) guests+="$2 "; shift 2 ;;
    --delay) delays[${2%%=*}]=${2#*=}; shift 2 ;;
    --dc) dcs+=("$2"); shift 2 ;;
    --no-ntlm) ntlm=no; shift ;;
    --odd) odd+=("$2"); shift 2 ;;
    --silent) silent+=("$2"); servers+=("$2=ro=nobody:unused"); shift 2 ;;
    *=*) servers+=("$1"); shift ;;
    *) echo "smb-servers.sh: '$1' is not NAME=USER:PASS,..." >&2; exit 2 ;;
  esac
done
[ "${1:-}" = -- ] || { echo "smb-servers.sh: no -- COMMAND" >&2; exit 2; }
shift

lab=$(mktemp -d /tmp/veskcfg-smb-lab-XXXXXX)
: >"$lab/servers"  # a lab may have none
# A server works as the account it serves: an ordinary one must reach the
# server's registry below here.
chmod 755 "$lab"
export VESKCFG_SMB_LAB=$lab
cleanup() {
  # Every other process of this namespace: the servers and their helpers.
  kill -TERM -1 2>/dev/null || true
  sleep 0.2
  kill -KILL -1 2>/dev/null || true
  rm -rf "$lab"
}
trap cleanup EXIT

ip link set lo up
# Nothing but this namespace's own files answers a name: no DNS, no broadcast.
printf 'passwd: files\ngroup: files\nshadow: files\nhosts: files\n' >"$lab/nsswitch.conf"
printf '127.0.0.1 localhost\n' >"$lab/hosts"
: >"$lab/resolv.conf"
cp /etc/passwd "$lab/passwd"
cp /etc/group "$lab/group"
for file in nsswitch.conf hosts resolv.conf passwd group; do
  mount --bind "$lab/$file" "/etc/$file"
done
# Samba's own folders start empty and vanish with the namespace: no pid
# file, message socket or cache of the machine's Samba is shared.
for folder in /run/samba /var/lib/samba /var/cache/samba /var/log/samba; do
  mkdir -p "$folder"
  mount -t tmpfs -o mode=755 tmpfs "$folder"
done
: >"$lab/smb.conf"
[ -e /etc/samba/smb.conf ] && mount --bind "$lab/smb.conf" /etc/samba/smb.conf
# Kerberos reads the lab's configuration only, and keeps tickets in the lab.
printf '[libdefaults]\n  dns_lookup_kdc = false\n  dns_lookup_realm = false\n  rdns = false\n' >"$lab/krb5.conf"
[ -e /etc/krb5.conf ] && mount --bind "$lab/krb5.conf" /etc/krb5.conf
export KRB5_CONFIG=$lab/krb5.conf KRB5CCNAME=FILE:$lab/krb5cc KRB5_KTNAME=FILE:$lab/krb5.keytab

# An administrator is uid 0; an ordinary user has a uid and group of its own.
uid=2000
addUser() {  # addUser NAME admin|ro
  grep -q "^$1:" "$lab/passwd" && return
  if [ "$2" = admin ]; then
    echo "$1:x:0:0::/root:/usr/sbin/nologin" >>"$lab/passwd"
  else
    uid=$((uid + 1))
    echo "$1:x:$uid:$uid::/nonexistent:/usr/sbin/nologin" >>"$lab/passwd"
    echo "$1:x:$uid:" >>"$lab/group"
  fi
}

address=2
for name in "${down[@]}"; do
  echo "127.0.0.$((200 + address)) $name" >>"$lab/hosts"
  address=$((address + 1))
done

# ---- the domain controller ---------------------------------------------------
[ ${#dcs[@]} -le 1 ] || { echo "smb-servers.sh: one --dc at most" >&2; exit 2; }
realm=R.LAB domain=R adminPassword=Lab-Admin-1
samba_tool() { samba_tool_at +0 "$@"; }
samba_tool_at() {  # samba_tool_at OFFSET ARG...: samba-tool with the clock moved by OFFSET
  local offset=$1
  shift
  if [ "$offset" = +0 ]; then
    /usr/bin/python3 /usr/bin/samba-tool "$@" >>"$lab/samba-tool.out" 2>&1
  else
    faketime -f "$offset" /usr/bin/python3 /usr/bin/samba-tool "$@" >>"$lab/samba-tool.out" 2>&1
  fi || { echo "smb-servers.sh: samba-tool $1 $2 failed:" >&2; tail -5 "$lab/samba-tool.out" >&2; exit 1; }
}

# The domain's database, its accounts and names, made offline (no DC runs
# yet, so no logon is needed). Its paths are absolute: it lives at
# /var/lib/samba/dc, which is this namespace's own, in every lab.
provision() {  # provision NAME ADDRESS ACCOUNTS
  local name=$1 ip=$2 dir=/var/lib/samba/dc host
  host=$(tr A-Z a-z <<<"$1")
  samba_tool domain provision --realm=$realm --domain=$domain --server-role=dc --dns-backend=SAMBA_INTERNAL \
    --use-rfc2307 --host-name="$host" --host-ip="$ip" --adminpass=$adminPassword --targetdir=$dir \
    --option="interfaces=$ip/32" --option="bind interfaces only=yes" --option="disable netbios=yes" \
    --option="netbios name=$name" --option="dns forwarder=127.0.0.1"
  local sam=$dir/private/sam.ldb account kind user password
  samba_tool domain passwordsettings set -H "$sam" --complexity=off --min-pwd-length=0 --history-length=0 \
    --min-pwd-age=0 --max-pwd-age=2 --account-lockout-threshold=3
  IFS=, read -ra list <<<"$3"
  for account in "${list[@]}"; do
    kind=admin
    [[ $account == *=* ]] && kind=${account%%=*} account=${account#*=}
    user=${account%%:*} password=${account#*:}
    case $kind in
      mustchange) samba_tool user create "$user" "$password" -H "$sam" --must-change-at-next-login ;;
      # Its password set three days ago, and passwords last two.
      pwexpired) samba_tool_at -3d user create "$user" "$password" -H "$sam" ;;
      admin|ro|disabled|expired) samba_tool user create "$user" "$password" -H "$sam" ;;
      *) echo "smb-servers.sh: '$kind=' is not a kind of account" >&2; exit 2 ;;
    esac
    case $kind in
      admin) samba_tool group addmembers "Domain Admins" "$user" -H "$sam" ;;
      disabled) samba_tool user disable "$user" -H "$sam" ;;
      expired) samba_tool user setexpiry "$user" --days=0 -H "$sam" ;;
    esac
  done
  for alias in ${aliases[$name]:-}; do samba_tool spn add "cifs/$alias" "$name\$" -H "$sam"; done
}

startDc() {  # startDc NAME=ACCOUNTS
  local name=${1%%=*} accounts=${1#*=} ip=127.0.2.2 dir=/var/lib/samba/dc host key
  host=$(tr A-Z a-z <<<"$name")
  ip addr add "$ip/32" dev lo
  echo "$ip $host.r.lab $host $name${aliases[$name]:-}" >>"$lab/hosts"
  echo "nameserver $ip" >"$lab/resolv.conf"
  # Passwords last two days from the provision: one of another day is made anew.
  key="$(date -u +%F) $name $ip $accounts ${aliases[$name]:-}"
  local cache=${VESKCFG_AD_PROVISION:-}
  if [ -n "$cache" ] && [ -f "$cache" ] && [ "$(tar -xOf "$cache" ./provision.key 2>/dev/null)" = "$key" ]; then
    tar -xf "$cache" -C /var/lib/samba
  else
    provision "$name" "$ip" "$accounts"
    if [ -n "$cache" ]; then
      echo "$key" >/var/lib/samba/provision.key
      tar -cf "$cache.new" -C /var/lib/samba ./dc ./provision.key && mv "$cache.new" "$cache"
    fi
  fi
  # Not part of the provision: a lab may want NTLM refused, and its log.
  sed -i "/^\[global\]/a log level = ${VESKCFG_SMB_LOG_LEVEL:-1} auth_audit:5" "$dir/etc/smb.conf"
  [ $ntlm = yes ] || sed -i '/^\[global\]/a ntlm auth = disabled' "$dir/etc/smb.conf"
  mkdir -p "$lab/$name/log"
  ln -s "$dir/etc/smb.conf" "$lab/$name/smb.conf"
  ln -s /var/log/samba/log.smbd "$lab/$name/log/log.smbd"  # its file server's, sessions included
  for alias in ${aliases[$name]:-}; do ln -s "$name" "$lab/$alias"; done  # net -s ALIAS/smb.conf
  printf '[libdefaults]\n  default_realm = %s\n  dns_lookup_kdc = false\n  dns_lookup_realm = false\n  rdns = false\n' \
    $realm >"$lab/krb5.conf"
  printf '[realms]\n  %s = {\n    kdc = %s\n  }\n[domain_realm]\n  .r.lab = %s\n' $realm "$ip" $realm >>"$lab/krb5.conf"
  sed '/default_realm/d' "$lab/krb5.conf" >"$lab/krb5-norealm.conf"
  # The console as a member of the domain knows it: R is the NetBIOS name of R.LAB.
  printf '[global]\n  workgroup = %s\n  realm = %s\n' $domain $realm >"$lab/smb.conf"
  KRB5_CONFIG=$dir/private/krb5.conf setsid samba -s "$dir/etc/smb.conf" -l "$lab/$name/log" --foreground \
    --no-process-group </dev/null >"$lab/$name/log/samba.out" 2>&1 &
  disown
  for port in 88 389 445; do
    for _ in $(seq 300); do
      if (exec 3<>"/dev/tcp/$ip/$port") 2>/dev/null; then continue 2; fi
      sleep 0.05
    done
    echo "smb-servers.sh: the DC $name did not start; its log:" >&2
    tail -20 "$lab/$name/log/"* >&2 || true
    exit 1
  done
}
for spec in "${dcs[@]}"; do startDc "$spec"; done

address=2
for spec in "${servers[@]}"; do
  name=${spec%%=*}
  accounts=${spec#*=}
  ip=127.0.0.$address
  address=$((address + 1))
  ip addr add "$ip/32" dev lo
  echo "$ip $name${aliases[$name]:-}" >>"$lab/hosts"
  if [ -n "${delays[$name]:-}" ]; then  # the relay takes the name's address
    relayed=$ip
    ip=127.0.1.${ip##*.}
    ip addr add "$ip/32" dev lo
    relay=${VESKCFG_RELAY:-$(dirname "$0")/../build/linux/veskcfg-relay}
    [ -x "$relay" ] || { echo "smb-servers.sh: --delay needs veskcfg-relay ($relay: none)" >&2; exit 2; }
    setsid "$relay" "$relayed" 445 "$ip" "${delays[$name]}" "$lab/$name/cut" </dev/null >/dev/null 2>&1 &
    disown
    echo "$relayed $name" >>"$lab/servers"
  fi
  dir=$lab/$name
  mkdir -p "$dir"/{private,state,cache,lock,pid,ncalrpc,log}
  admins=""
  IFS=, read -ra list <<<"$accounts"
  for account in "${list[@]}"; do
    if [ "${account#ro=}" != "$account" ]; then
      account=${account#ro=}
      addUser "${account%%:*}" ro
    else
      addUser "${account%%:*}" admin
      admins+=" ${account%%:*}"
    fi
  done
  cat >"$dir/smb.conf" <<EOF
[global]
  netbios name = $name
  workgroup = WORKGROUP
  server role = standalone server
  interfaces = $ip/32
  bind interfaces only = yes
  disable netbios = yes
  smb ports = 445
  name resolve order = host
  passdb backend = tdbsam:$dir/private/passdb.tdb
  private dir = $dir/private
  state directory = $dir/state
  cache directory = $dir/cache
  lock directory = $dir/lock
  pid directory = $dir/pid
  ncalrpc dir = $dir/ncalrpc
  binddns dir = $dir/private
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
  admin users =$admins
  log level = ${VESKCFG_SMB_LOG_LEVEL:-1}
EOF
  if [[ $guests == *" $name "* ]]; then
    printf '  map to guest = bad user\n  guest account = nobody\n' >>"$dir/smb.conf"
  fi
  for account in "${list[@]}"; do
    account=${account#ro=}
    user=${account%%:*} password=${account#*:}
    printf '%s\n%s\n' "$password" "$password" | smbpasswd -c "$dir/smb.conf" -s -a "$user" >"$dir/log/smbpasswd.out" 2>&1 ||
      { cat "$dir/log/smbpasswd.out" >&2; exit 1; }
  done
  # In a session of its own: smbd signals its whole process group as it ends.
  # -l: its helpers (samba-dcerpcd, rpcd_*) log there too, not in /var/log.
  # _NO_WINBINDD: it maps its own users; a lab's DC runs a winbindd that
  # would map them instead, to ids no passwd file knows, and fail the logon.
  _NO_WINBINDD=1 setsid smbd -s "$dir/smb.conf" -l "$dir/log" --foreground --no-process-group </dev/null >"$dir/log/smbd.out" 2>&1 &
  echo $! >"$dir/smbd.pid"
  disown  # its end, by the cleanup's signal, is no news
  echo "$ip $name" >>"$lab/servers"
done

# ---- servers that answer as a test tells them ------------------------------
address=2
for spec in "${odd[@]}"; do
  name=${spec%%=*}
  ip=127.0.3.$address
  address=$((address + 1))
  ip addr add "$ip/32" dev lo
  echo "$ip $name${aliases[$name]:-}" >>"$lab/hosts"
  mkdir -p "$lab/$name/log"
  echo '{"list": []}' >"$lab/$name/behaviour"
  setsid /usr/bin/python3 "$(dirname "$0")/../tests/support/odd_winreg_server.py" "$ip" "$lab/$name/behaviour" \
    "${spec#*=}" </dev/null >"$lab/$name/log/server.log" 2>&1 &
  disown
  echo "$ip $name" >>"$lab/servers"
done

# A server is ready when its port 445 accepts.
while read -r ip name; do
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/$ip/445") 2>/dev/null; then continue 2; fi
    sleep 0.05
  done
  echo "smb-servers.sh: $name did not start; its log:" >&2
  cat "$lab/$name/log/"* >&2 || true
  exit 1
done <"$lab/servers"

# The kernel still completes their connections; nothing reads them.
for name in "${silent[@]}"; do
  kill -STOP "$(cat "$lab/$name/smbd.pid")"
done

status=0
"$@" || status=$?
exit $status
