# Sourced by scripts/demo and scripts/screenshot: a local Dovecot on 127.0.0.1 on a free high
# port with the sample mailbox of 12 messages, a program folder with GoodAddr.txt and
# spammers.txt, and a settings file (XDG_CONFIG_HOME exported) for it, all in a temporary
# folder. Sets demo, program_dir, port, user, password; defines show_mailbox and cleanup
# (stops the server, removes the folder; installed as the EXIT trap, and runs the function
# named in extra_cleanup first when that is set).
# Dovecot keeps sockets in the folder: its path must stay short.
demo=$(mktemp -d /tmp/mvdemo.XXXXXX)
chmod 755 "$demo" # Dovecot's login and mail processes run as other users
server_pid=""
cleanup() {
  if [ -n "${extra_cleanup:-}" ]; then "$extra_cleanup" || true; fi
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$demo"
}
trap cleanup EXIT

user=demo
password='Open Sesame'
server_dir="$demo/server"
program_dir="$demo/program"
config_dir="$demo/config"
mkdir -p "$server_dir" "$program_dir" "$config_dir"

# --- The server -------------------------------------------------------------------------
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
port_open() {
  python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 0.2)' "$1" 2>/dev/null
}

start_server() {
  for _ in 1 2 3 4 5; do
    port=$(free_port)
    tests/servers/dovecot-test-server "$server_dir" "$port" >"$demo/server.out" 2>&1 &
    server_pid=$!
    for _ in $(seq 1 100); do
      if port_open "$port"; then return 0; fi
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.05
    done
    # The port was taken between the probe and the start (Dovecot exits 89), or it failed.
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  done
  echo "demo: Dovecot did not start:" >&2
  cat "$demo/server.out" "$server_dir/dovecot.log" >&2 2>/dev/null || true
  return 1
}
start_server
echo "Dovecot listens on 127.0.0.1:$port"

printf '%s:{PLAIN}%s\n' "$user" "$password" >"$server_dir/users/$user"
maildir="$server_dir/mail/$user"
mkdir -p "$maildir/new" "$maildir/cur" "$maildir/tmp"

# The sample mailbox: from, to, subject. Names sort in this order, so Dovecot numbers the
# messages as listed.
n=0
add_message() {
  n=$((n + 1))
  local file
  file="$maildir/tmp/$((1000000000 + n)).M${n}.demo"
  cat >"$file" <<MSG
Return-Path: <$1>
From: $1
To: $2
Subject: $3
Date: Mon, 7 Dec 2026 09:$((10 + n)):00 +0000
Message-ID: <demo-$n@example.org>

This is sample message $n: $3.
MSG
  mv "$file" "$maildir/new/"
}
add_message "Anna Smith <anna@friends.example>"      "Jo User <jo@home.example>"     "Lunch on Friday?"
add_message "Cheap Meds <offers@cheap-pills.example>" "Jo User <jo@home.example>"     "Pills at half price"
add_message "Bob <bob@work.example>"                  "Jo User <jo.user@work.example>" "Minutes of the meeting"
add_message "Lottery Team <win@lucky-lotto.example>"  "undisclosed-recipients:;"      "You have won!"
add_message "Newsletter <news@club.example>"          "members@club.example"          "Club news for December"
add_message "Dr. Money <transfer@bank-of-riches.example>" "Jo User <jo@home.example>" "Urgent business proposal"
add_message "Mum <mum@family.example>"                "Jo <jo@home.example>"          "Christmas plans"
add_message "Deals <deals@cheap-pills.example>"       "someone@elsewhere.example"     "More pills"
add_message "IT Desk <it@work.example>"               "jo.user@work.example"          "Password expiry notice"
add_message "Stranger <who@unknown.example>"          "list@lists.example"            "Re: your question"
add_message "Casino <vip@lucky-lotto.example>"        "Jo User <JO@HOME.EXAMPLE>"     "Free spins inside"
add_message "Carol <carol@friends.example>"           "Jo User <jo@home.example>"     "Photos from the trip"
if [ "$(id -u)" -eq 0 ]; then chown -R dovecot:dovecot "$server_dir/mail"; fi

# --- The program folder and the settings --------------------------------------------------
printf '%s\r\n' "jo@home.example" "jo.user@work.example" >"$program_dir/GoodAddr.txt"
printf '%s\r\n' "cheap-pills.example" "lucky-lotto.example" "bank-of-riches.example" \
  >"$program_dir/spammers.txt"

# The password is kept with every byte exclusive-ored with 8.
scrambled=$(python3 -c 'import sys; print("".join(chr(ord(c) ^ 8) for c in sys.argv[1]))' "$password")
printf '[Config]\r\nServer=127.0.0.1:%s\r\nLogin=%s\r\nPassword=%s\r\nUnknown=1\r\nStrict=0\r\nNoCase=1\r\nLogLevel=0\r\n' \
  "$port" "$user" "$scrambled" >"$config_dir/Morvandle.ini"
export XDG_CONFIG_HOME="$config_dir"

show_mailbox() {
  python3 - "$port" "$user" "$password" <<'PY'
import poplib, sys
pop = poplib.POP3("127.0.0.1", int(sys.argv[1]), timeout=10)
pop.user(sys.argv[2]); pop.pass_(sys.argv[3])
count, _ = pop.stat()
print("%d message(s) on the server:" % count)
for n in range(1, count + 1):
    headers = [l.decode("latin-1") for l in pop.top(n, 0)[1]]
    get = lambda name: next((h[len(name) + 2:] for h in headers if h.startswith(name + ": ")), "")
    print("  %2d  %-45s %s" % (n, get("From")[:45], get("Subject")))
pop.quit()
PY
}

