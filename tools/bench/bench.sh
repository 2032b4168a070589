#!/usr/bin/env bash
# The installer's measured speed, each figure a ratio taken side by side in one run:
#   MD5 of one file: CMD5Checksum (under Wine) against md5sum;
#   download from one loopback nginx: AsyncWinHttp (under Wine) against curl, with the
#   ceilings of WinHTTP and of Winsock under Wine beside it;
#   one-key installs of 100 MiB, 1 GiB and 5 GiB packages: last byte written to payload
#   start, the window's answers during download and verification, peak working set;
#   the same with the package complete on disk, only verified;
#   peak working set of silent installs of 50 MiB and 500 MiB embedded payloads;
#   a progress flood of 20,000 messages a second for 10 s at the install page;
#   256 MiB through the fault relay cutting every connection after 16 MiB (recovery.sh);
#   size of the i686 installer with the default branding and without its images.
# Usage: tools/bench/bench.sh [x86_64 build] [native build] [i686 build] [size in MiB]
#                             [earlier x86_64 build]
# The x86_64 tree needs its tests built (download_bench, installer_e2e,
# installer_e2e_embedded, window_probe, embed_payload); the native tree gives the
# development update server; the i686 tree the installer. An earlier x86_64 tree (its
# installer_e2e and installer_e2e_embedded built) gives the "before" figures of the
# install rows. The size is that of the MD5 and download rows.
# MD5 and download figures are the best of three runs; the programs time their own work.
# It uses port 8901 (the update server's) and a Wine prefix of its own; do not run it
# beside the end-to-end tests.
set -u
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$src/build/x86_64}" && pwd) || exit 1
native=$(cd "${2:-$src/build/native}" && pwd) || exit 1
i686=$(cd "${3:-$src/build/i686}" && pwd) || exit 1
mib=${4:-1024}
before=${5:+$(cd "$5" && pwd)}
bench=$build/tools/bench/download_bench.exe
for f in "$bench" "$build/tests/app/installer_e2e.exe" "$build/tests/app/installer_e2e_embedded.exe" \
         "$build/tools/bench/window_probe.exe" "$build/tools/bench/embed_payload.exe" \
         "$native/tools/devserver/devserver" "$i686/installer.exe" \
         ${before:+"$before/tests/app/installer_e2e.exe" "$before/tests/app/installer_e2e_embedded.exe"}; do
  [ -f "$f" ] || { echo "no $f: build it first" >&2; exit 1; }
done
. "$src/tests/download/servers-lib.sh"
. "$here/session-lib.sh"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export QX_WINEPREFIX=$build/bench-prefix QX_DEVSERVER=$native/tools/devserver/devserver

qx_bench_begin qx-bench || exit 1

mkdir -p "$root/www"
chmod 755 "$root" "$root/www"
head -c $((mib * 1024 * 1024)) /dev/urandom >"$root/www/package.bin"
chmod 644 "$root/www/package.bin"
bytes=$(stat -c %s "$root/www/package.bin")
wine_run() { "$src/tools/wine-run" "$@"; }
win_path() { local p=${1//\//\\}; echo "Z:$p"; }
best() { sort -g | head -1; }
mbps() { awk -v b="$bytes" -v s="$1" 'BEGIN { printf "%.0f", b / s / 1048576 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; }
value() { sed -n "s/^$1=//p" | tr -d '\r'; }

# ---- MD5 ----
# Warm the page cache and the Wine prefix.
cat "$root/www/package.bin" >/dev/null
wine_run "$bench" md5 "$(win_path "$root/www/package.bin")" >/dev/null
expected=$(md5sum "$root/www/package.bin" | cut -d' ' -f1)
ours_md5=()
for _ in 1 2 3; do
  line=$(wine_run "$bench" md5 "$(win_path "$root/www/package.bin")" | tr -d '\r')
  [ "${line%% *}" = "${expected^^}" ] || { echo "wrong digest: $line, md5sum says $expected" >&2; exit 1; }
  ours_md5+=("${line##* }")
done
theirs_md5=()
for _ in 1 2 3; do
  theirs_md5+=("$( { TIMEFORMAT=%3R; time md5sum "$root/www/package.bin" >/dev/null; } 2>&1 )")
done
md5_ours=$(printf '%s\n' "${ours_md5[@]}" | best)
md5_theirs=$(printf '%s\n' "${theirs_md5[@]}" | best)

# ---- download ----
qx_nginx_start "$root/nginx" "$root/www" || exit 1
url="http://127.0.0.1:$QX_NGINX_PORT/package.bin"
ours_get=()
for _ in 1 2 3; do
  line=$(wine_run "$bench" get "$url" "$(win_path "$root/got.bin")" "$bytes" | tr -d '\r')
  [ "${line%% *}" = "$bytes" ] || { echo "short download: $line" >&2; exit 1; }
  cmp -s "$root/got.bin" "$root/www/package.bin" || { echo "download differs" >&2; exit 1; }
  ours_get+=("${line##* }")
done
rm -f "$root/got.bin"
# Where the time goes: the fastest WinHTTP client possible here (synchronous reads of
# 1 MiB, nothing written) and the socket layer under Wine without WinHTTP.
floor_http=()
floor_sock=()
for _ in 1 2 3; do
  line=$(wine_run "$bench" winhttp "$url" | tr -d '\r')
  [ "${line%% *}" = "$bytes" ] || { echo "short WinHTTP read: $line" >&2; exit 1; }
  floor_http+=("${line##* }")
  line=$(wine_run "$bench" winsock "$QX_NGINX_PORT" /package.bin | tr -d '\r')
  [ "${line%% *}" -gt "$bytes" ] || { echo "short Winsock read: $line" >&2; exit 1; }
  floor_sock+=("${line##* }")
done
http_floor=$(printf '%s\n' "${floor_http[@]}" | best)
sock_floor=$(printf '%s\n' "${floor_sock[@]}" | best)
theirs_get=()
for _ in 1 2 3; do
  theirs_get+=("$(curl -s -o "$root/curl.bin" -w '%{time_total}' "$url")")
done
rm -f "$root/curl.bin"
get_ours=$(printf '%s\n' "${ours_get[@]}" | best)
get_theirs=$(printf '%s\n' "${theirs_get[@]}" | best)
kill "$QX_NGINX_PID" 2>/dev/null; wait "$QX_NGINX_PID" 2>/dev/null; QX_NGINX_PID=
rm -f "$root/www/package.bin"

# ---- installs: hand-over, the window, memory ----
# One-key installs (the window probed), the same with the package already complete on
# disk (only verified), and silent installs of embedded payloads; each in the tree
# measured and, when given, the earlier one.
py() { python3 "$here/installer_bench.py" "$@" --tools "$build"; }
declare -A got
install_run() { # install_run <key> <tree> <mode> <MiB>
  local out
  out=$(py "$3" "$4" --build "$2") || { echo "$3 $4 MiB in $2 failed: $out" >&2; exit 1; }
  got[$1]=$out
  rm -rf "$2/e2e/bench_$3"
}
field() { echo "${got[$1]:-}" | value "$2"; }
for tree in ours ${before:+before}; do
  dir=$build
  [ "$tree" = before ] && dir=$before
  for size in 100 1024 5120; do install_run "$tree web $size" "$dir" web "$size"; done
  install_run "$tree verify 1024" "$dir" verify 1024
  # An earlier tree reads the size of a 5 GiB package wrongly and never gets to verify it.
  [ "$tree" = ours ] && install_run "$tree verify 5120" "$dir" verify 5120
  for size in 50 500; do install_run "$tree embedded $size" "$dir" embedded "$size"; done
done
handover() { # handover <tree> <MiB>: the figure, or what happened instead
  local ms
  ms=$(field "$1 web $2" last_byte_to_payload_ms)
  if [ -n "$ms" ]; then echo "$ms ms"; elif [ -n "${got[$1 web $2]:-}" ]; then field "$1 web $2" outcome; else echo "-"; fi
}
answers() { # answers <key>: median / p99 / worst, or what happened instead
  [ -n "${got[$1]:-}" ] || { echo "-"; return; }
  local text
  text="$(field "$1" probe_median_ms) / $(field "$1" probe_p99_ms) / $(field "$1" probe_max_ms) ms"
  [ "$(field "$1" outcome)" = installed ] || text="$text ($(field "$1" outcome))"
  echo "$text"
}
mem_mib() { [ -n "${got[$1]:-}" ] && echo "$(($(field "$1" peak_kib) / 1024)) MiB" || echo "-"; }
mem_ratio() { [ -n "${got[$1]:-}" ] && awk -v a="$(field "$1" peak_kib)" -v b="$(field "$2" peak_kib)" 'BEGIN { printf "%.2f", a / b }' || echo "-"; }
# The peak less the installer's own file, which Wine loads whole into private memory.
beyond_kib() { echo $(($(field "$1" peak_kib) - $(field "$1" installer_bytes) / 1024)); }
beyond_mib() { [ -n "${got[$1]:-}" ] && echo "$(($(beyond_kib "$1") / 1024)) MiB" || echo "-"; }
beyond_ratio() { [ -n "${got[$1]:-}" ] && awk -v a="$(beyond_kib "$1")" -v b="$(beyond_kib "$2")" 'BEGIN { printf "%.2f", a / b }' || echo "-"; }
flood=$(py flood --build "$build") || { echo "flood run failed: $flood" >&2; exit 1; }
rm -rf "$build/e2e/bench_flood"
frames=$(echo "$flood" | value frames_per_s)
frames_before=$(echo "$flood" | value frames_per_s_before)
msg_rate=$(echo "$flood" | value messages_per_s)
last_ms=$(echo "$flood" | value last_value_painted_after_ms)
probe_median=$(echo "$flood" | value probe_median_ms)
probe_max=$(echo "$flood" | value probe_max_ms)
probe_samples=$(echo "$flood" | value probe_samples)
shot=$(echo "$flood" | value screenshot)

# ---- recovery ----
recovery=$("$here/recovery.sh" "$build" 256) || { echo "recovery run failed: $recovery" >&2; exit 1; }

# ---- size ----
exe_bytes=$(stat -c %s "$i686/installer.exe")
image_bytes=0
while read -r type name file flags; do
  case "$type:$file" in
    1056:*.png|1056:*.jpg|1056:*.ico|ICON:*) image_bytes=$((image_bytes + $(stat -c %s "$src/resources/$file"))) ;;
  esac
done < <(grep -E '^[^# ]' "$src/resources/manifest.txt")

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(free -g | awk '/^Mem:/ { print $2 }') GiB;" \
     "$(/usr/lib/wine/wine64 --version 2>/dev/null || echo wine), $(/usr/sbin/nginx -v 2>&1 | sed 's/.*\///'); $(date -u +%Y-%m-%d)"
echo
echo "| what | ours | reference | ratio | goal |"
echo "|---|---|---|---|---|"
echo "| MD5 of $mib MiB (CMD5Checksum under Wine vs md5sum) | $(mbps "$md5_ours") MiB/s | $(mbps "$md5_theirs") MiB/s | $(ratio "$md5_ours" "$md5_theirs") | >= 0.9 |"
echo "| download of $mib MiB from loopback nginx (AsyncWinHttp under Wine vs curl) | $(mbps "$get_ours") MiB/s | $(mbps "$get_theirs") MiB/s | $(ratio "$get_ours" "$get_theirs") | >= 0.8 |"
echo "| the same through WinHTTP alone: synchronous 1 MiB reads, nothing written, vs curl | $(mbps "$http_floor") MiB/s | $(mbps "$get_theirs") MiB/s | $(ratio "$http_floor" "$get_theirs") | (the ceiling of any WinHTTP client) |"
echo "| the same through Winsock under Wine: plain recv of 1 MiB, nothing written, vs curl | $(mbps "$sock_floor") MiB/s | $(mbps "$get_theirs") MiB/s | $(ratio "$sock_floor" "$get_theirs") | (the socket layer) |"
echo "| last byte written to payload start, one-key install of 1 GiB (ours vs before) | $(handover ours 1024) | $(handover before 1024) | | <= 100 ms |"
echo "| the same, 5 GiB | $(handover ours 5120) | $(handover before 5120) | | <= 100 ms |"
echo "| window's answer during download and verification, 1 GiB: median / 99th percentile / worst | $(answers "ours web 1024") | $(answers "before web 1024") | | <= 50 ms |"
echo "| the same, 5 GiB | $(answers "ours web 5120") | $(answers "before web 5120") | | <= 50 ms |"
echo "| window's answer while a complete 1 GiB package on disk is verified | $(answers "ours verify 1024") | $(answers "before verify 1024") | | <= 50 ms |"
echo "| the same, 5 GiB | $(answers "ours verify 5120") | - | | <= 50 ms |"
echo "| peak working set of a one-key install, 5 GiB vs 100 MiB (ours) | $(mem_mib "ours web 5120") | $(mem_mib "ours web 100") | $(mem_ratio "ours web 5120" "ours web 100") | <= 1.10 |"
echo "| the same before | $(mem_mib "before web 5120") | $(mem_mib "before web 100") | $(mem_ratio "before web 5120" "before web 100") | |"
echo "| peak working set of a silent embedded install, 500 MiB vs 50 MiB payload (ours) | $(mem_mib "ours embedded 500") | $(mem_mib "ours embedded 50") | $(mem_ratio "ours embedded 500" "ours embedded 50") | |"
echo "| the same before | $(mem_mib "before embedded 500") | $(mem_mib "before embedded 50") | $(mem_ratio "before embedded 500" "before embedded 50") | |"
echo "| the same less the installer's own image, which Wine loads whole (ours) | $(beyond_mib "ours embedded 500") | $(beyond_mib "ours embedded 50") | $(beyond_ratio "ours embedded 500" "ours embedded 50") | <= 1.10 |"
echo "| the same before | $(beyond_mib "before embedded 500") | $(beyond_mib "before embedded 50") | $(beyond_ratio "before embedded 500" "before embedded 50") | |"
echo "| repaints/s of the page during $msg_rate progress messages/s for 10 s (carousel alone before) | $frames | ($frames_before) | | <= ~60 |"
echo "| last progress value on screen after the last message | $last_ms ms | | | newest value shown |"
echo "| window's answer to a message during the flood, median / worst of $probe_samples | $probe_median ms / $probe_max ms | | | responsive |"
echo "$recovery"
echo "| i686 installer.exe, default branding / without its $((image_bytes / 1024)) KiB of images | $((exe_bytes / 1024)) KiB | $(((exe_bytes - image_bytes) / 1024)) KiB | | |"
echo
echo "flood's last frame: $shot"
echo "embedded installers: $(($(field "ours embedded 50" installer_bytes) / 1048576)) MiB and $(($(field "ours embedded 500" installer_bytes) / 1048576)) MiB"
for key in "${!got[@]}"; do
  slow=$(field "$key" probe_slow)
  [ -n "$slow" ] && echo "answers over 50 ms ($key), ms@ms after the probe's start: $slow"
done
