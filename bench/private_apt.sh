# apt-get with a state of its own below "$data/apt", so the suites of other
# releases do not enter the machine's package lists. Sourced by the benches
# that fetch real release series; they set $data and write
# "$data/apt/sources.list".
apt_private() {
  local cmd=$1
  shift
  "$cmd" -o Dir::Etc::SourceList="$data/apt/sources.list" \
    -o Dir::Etc::SourceParts=/nonexistent \
    -o Dir::State::Lists="$data/apt/lists" \
    -o Dir::Cache="$data/apt/cache" \
    -o APT::Architectures::=amd64 -o Acquire::Languages=none \
    -o APT::Sandbox::User=root "$@"
}
