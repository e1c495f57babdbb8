# ClickHouse servers of the fleet check and bench, run as the current user: each on 127.0.0.1
# alone, on ports found free, with its configuration, data and logs in one temporary folder, and
# all of them shards of the cluster "fleet" that fleet/schema.sql names.
#
#   source tests/fleet/clickhouse_lib.sh
#   fleet_start_servers N     starts N servers (2 for two shards); exits 2 when one cannot start
#   fleet_client I ARGS...    clickhouse-client on server I (1..N)
#   $fleet_tmp                the temporary folder, free for the caller's files too
# The servers are stopped and the folder removed when the shell exits (an EXIT trap), or by
# fleet_stop_servers.

fleet_tmp=$(mktemp -d "${TMPDIR:-/tmp}/keldrun-fleet.XXXXXX")
fleet_pids=()
fleet_ports=()

fleet_stop_servers() {
  local pid i
  for pid in "${fleet_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${fleet_pids[@]}"; do
    for i in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  fleet_pids=()
  rm -rf "$fleet_tmp"
}
trap fleet_stop_servers EXIT
trap 'exit 124' TERM INT HUP

# N free TCP ports of 127.0.0.1, each bound once and let go.
fleet_free_ports() {
  python3 - "$1" <<'PY'
import socket, sys
held = []
for _ in range(int(sys.argv[1])):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    held.append(s)
print(" ".join(str(s.getsockname()[1]) for s in held))
PY
}

fleet_client() {
  local i=$1
  shift
  timeout 120 clickhouse-client --host 127.0.0.1 --port "${fleet_ports[$i]}" "$@"
}

# Writes the configuration of server I (its tcp port, its http port) into $fleet_tmp/sI.
fleet_server_config() {
  local i=$1 tcp=$2 http=$3 dir=$fleet_tmp/s$1 shards="" p
  mkdir -p "$dir/data" "$dir/tmp" "$dir/user_files" "$dir/format_schemas"
  for p in "${fleet_ports[@]:1}"; do
    shards+="      <shard><replica><host>127.0.0.1</host><port>$p</port></replica></shard>"$'\n'
  done
  cat >"$dir/users.xml" <<X
<?xml version="1.0"?>
<yandex>
  <profiles><default><max_memory_usage>2000000000</max_memory_usage></default></profiles>
  <users>
    <default>
      <password></password>
      <networks><ip>127.0.0.1</ip></networks>
      <profile>default</profile>
      <quota>default</quota>
    </default>
  </users>
  <quotas><default><interval><duration>3600</duration><queries>0</queries><errors>0</errors>
    <result_rows>0</result_rows><read_rows>0</read_rows><execution_time>0</execution_time></interval></default></quotas>
</yandex>
X
  cat >"$dir/config.xml" <<X
<?xml version="1.0"?>
<yandex>
  <logger><level>warning</level><log>$dir/server.log</log><errorlog>$dir/server.err.log</errorlog></logger>
  <listen_host>127.0.0.1</listen_host>
  <tcp_port>$tcp</tcp_port>
  <http_port>$http</http_port>
  <path>$dir/data/</path>
  <tmp_path>$dir/tmp/</tmp_path>
  <user_files_path>$dir/user_files/</user_files_path>
  <format_schema_path>$dir/format_schemas/</format_schema_path>
  <users_config>$dir/users.xml</users_config>
  <default_profile>default</default_profile>
  <default_database>default</default_database>
  <mark_cache_size>67108864</mark_cache_size>
  <uncompressed_cache_size>67108864</uncompressed_cache_size>
  <mlock_executable>false</mlock_executable>
  <remote_servers>
    <fleet>
$shards    </fleet>
  </remote_servers>
</yandex>
X
}

fleet_start_servers() {
  local n=$1 i ports tries
  command -v clickhouse-client >/dev/null && [ -x /usr/sbin/clickhouse-server ] || {
    echo "clickhouse: clickhouse-server and clickhouse-client are not installed (scripts/install_deps.sh)" >&2
    exit 2
  }
  read -r -a ports <<<"$(fleet_free_ports $((2 * n)))"
  fleet_ports=("")  # servers count from 1
  for i in $(seq "$n"); do fleet_ports+=("${ports[$((2 * i - 2))]}"); done
  for i in $(seq "$n"); do
    fleet_server_config "$i" "${fleet_ports[$i]}" "${ports[$((2 * i - 1))]}"
    /usr/sbin/clickhouse-server --config-file="$fleet_tmp/s$i/config.xml" >"$fleet_tmp/s$i/stdout.log" 2>&1 &
    fleet_pids+=($!)
  done
  for i in $(seq "$n"); do
    for tries in $(seq 120); do
      clickhouse-client --host 127.0.0.1 --port "${fleet_ports[$i]}" --query "SELECT 1" >/dev/null 2>&1 && break
      if ! kill -0 "${fleet_pids[$((i - 1))]}" 2>/dev/null || [ "$tries" = 120 ]; then
        echo "clickhouse: server $i (127.0.0.1:${fleet_ports[$i]}) did not start; the last lines of its logs:" >&2
        tail -n 15 "$fleet_tmp/s$i/stdout.log" "$fleet_tmp/s$i/server.err.log" >&2 2>/dev/null || true
        exit 2
      fi
      sleep 0.5
    done
  done
}
