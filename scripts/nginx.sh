# Sourced by the scripts that need a local update server: a real nginx on the
# loopback interface serving one directory, with its configuration, pid, logs
# and temporary files in a work directory of its own.
#
#   nginx_start WORK ROOT [PORT]   starts it (on PORT, else on a free port);
#                                  sets nginx_port and nginx_pid
#   nginx_stop              stops it (safe to call twice or without a start)
#
# As root the workers run as root too ("user root;"), so they read whatever
# the scripts and tests write, whatever the umask; otherwise they run as the
# user who started nginx.

nginx_pid=
nginx_port=

nginx_start() {
  local work=$1 root=$2
  mkdir -p "$work/tmp" "$root"
  local user_line=
  [ "$(id -u)" -eq 0 ] && user_line="user root;"
  local attempt
  for attempt in 1 2 3 4 5; do
    # A port nobody answers on; should another program take it first,
    # nginx ends and the next attempt takes another one.
    if [ -n "${3:-}" ]; then
      nginx_port=$3
      if (exec 3<>"/dev/tcp/127.0.0.1/$nginx_port") 2>/dev/null; then
        echo "nginx: port $nginx_port is taken" >&2
        return 1
      fi
    else
      nginx_port=$((20000 + RANDOM % 30000))
      while (exec 3<>"/dev/tcp/127.0.0.1/$nginx_port") 2>/dev/null; do
        nginx_port=$((nginx_port + 1))
      done
    fi
    cat >"$work/nginx.conf" <<CONF
daemon off;
worker_processes 1;
$user_line
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  default_type application/octet-stream;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    root $root;
  }
}
CONF
    nginx -p "$work/" -c "$work/nginx.conf" -e "$work/error.log" </dev/null >"$work/nginx.out" 2>&1 &
    nginx_pid=$!
    local i
    for i in $(seq 100); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$nginx_port") 2>/dev/null; then
        return 0
      fi
      kill -0 "$nginx_pid" 2>/dev/null || break
      sleep 0.05
    done
    nginx_stop
  done
  echo "nginx did not start:" >&2
  cat "$work/error.log" "$work/nginx.out" >&2 2>/dev/null || true
  return 1
}

nginx_stop() {
  if [ -n "$nginx_pid" ] && kill -0 "$nginx_pid" 2>/dev/null; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  nginx_pid=
}
