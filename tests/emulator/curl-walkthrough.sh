#!/usr/bin/env bash
# A browser-free session against the real emulator process with the demo seed and --auto-consent:
# consent -> code -> token -> about -> list -> resumable upload -> ranged download -> multipart
# upload -> expired token -> refresh. Only curl and coreutils (plus openssl for the PKCE digest).
#   curl-walkthrough.sh EMULATOR_BINARY SEED_JSON
set -euo pipefail
emulator=$1
seed=$2
work=$(mktemp -d /tmp/tarnwick-walkthrough.XXXXXX)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "walkthrough: $*" >&2; exit 1; }
field() { sed -n "s/.*\"$1\": *\"\\([^\"]*\\)\".*/\\1/p" | head -n 1; }

"$emulator" --port 0 --seed "$seed" --auto-consent >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 1 100); do grep -q '^listening on ' "$work/out" && break; sleep 0.05; done
base=$(sed -n 's/^listening on //p' "$work/out")
[ -n "$base" ] || fail "the emulator did not start: $(cat "$work/err")"
echo "emulator at $base"

client_id=tarnwick-demo.apps.googleusercontent.com
client_secret=GOCSPX-tarnwick-demo
redirect=http://127.0.0.1:45123/oauth/callback
verifier=$(head -c 32 /dev/urandom | base64 | tr '+/' '-_' | tr -d '=\n')
challenge=$(printf %s "$verifier" | openssl dgst -sha256 -binary | base64 | tr '+/' '-_' | tr -d '=\n')
state=walkthrough-state

# 1. Authorization: auto-consent answers with a redirect to the loopback address.
location=$(curl -s -o /dev/null -w '%{redirect_url}' -G "$base/o/oauth2/v2/auth" \
  --data-urlencode "client_id=$client_id" --data-urlencode "redirect_uri=$redirect" \
  --data-urlencode response_type=code --data-urlencode "scope=https://www.googleapis.com/auth/drive" \
  --data-urlencode "code_challenge=$challenge" --data-urlencode code_challenge_method=S256 \
  --data-urlencode "state=$state" --data-urlencode access_type=offline --data-urlencode prompt=consent)
case "$location" in "$redirect?"*) ;; *) fail "unexpected redirect: $location" ;; esac
case "$location" in *"state=$state"*) ;; *) fail "state not echoed: $location" ;; esac
code=$(printf %s "$location" | sed -n 's/.*[?&]code=\([^&]*\).*/\1/p')
code=$(printf '%b' "${code//%/\\x}")
[ -n "$code" ] || fail "no code in $location"

# 2. Token exchange with PKCE and the client secret.
curl -s -o "$work/token.json" -w '%{http_code}' "$base/token" \
  --data-urlencode "client_id=$client_id" --data-urlencode "client_secret=$client_secret" \
  --data-urlencode "code=$code" --data-urlencode "code_verifier=$verifier" \
  --data-urlencode "redirect_uri=$redirect" --data-urlencode grant_type=authorization_code >"$work/status"
[ "$(cat "$work/status")" = 200 ] || fail "token exchange: $(cat "$work/token.json")"
access=$(field access_token <"$work/token.json")
refresh=$(field refresh_token <"$work/token.json")
[ -n "$access" ] && [ -n "$refresh" ] || fail "tokens missing"
echo "signed in"
bearer=(-H "Authorization: Bearer $access")

# 3. Account and listing.
curl -sf "${bearer[@]}" "$base/drive/v3/about?fields=user(displayName,emailAddress),storageQuota(limit,usage)" \
  | grep -q '"emailAddress": "minhanh.nguyen@example.com"' || fail "about"
curl -sf "${bearer[@]}" -G "$base/drive/v3/files" \
  --data-urlencode "q='root' in parents and trashed = false" --data-urlencode pageSize=1000 \
  --data-urlencode orderBy=folder,name_natural --data-urlencode supportsAllDrives=true \
  --data-urlencode includeItemsFromAllDrives=true \
  --data-urlencode 'fields=nextPageToken,files(id,name,mimeType,size,modifiedTime,webViewLink,thumbnailLink,capabilities(canAddChildren,canEdit,canTrash,canDownload))' \
  >"$work/list.json"
grep -q '"name": "Công việc"' "$work/list.json" || fail "listing lacks the work folder"
root=$(curl -sf "${bearer[@]}" "$base/drive/v3/files/root?fields=id" | field id)
echo "listed My Drive ($root)"

# 4. Resumable upload: one 8 MiB chunk, a status query, then the rest.
size=$((8388608 + 123457))
head -c "$size" /dev/urandom >"$work/up.bin"
head -c 8388608 "$work/up.bin" >"$work/chunk1"
tail -c +8388609 "$work/up.bin" >"$work/chunk2"
session=$(curl -sf -o /dev/null -D - "${bearer[@]}" -H 'Content-Type: application/json; charset=utf-8' \
  -H 'X-Upload-Content-Type: application/octet-stream' -H "X-Upload-Content-Length: $size" \
  --data-binary "{\"name\":\"Báo cáo mới.bin\",\"parents\":[\"$root\"]}" \
  "$base/upload/drive/v3/files?uploadType=resumable&supportsAllDrives=true&fields=id,name,size,md5Checksum" \
  | tr -d '\r' | sed -n 's/^Location: //p')
case "$session" in "$base/upload/drive/v3/files?"*upload_id=*) ;; *) fail "bad session URL: $session" ;; esac
headers=$(curl -s -o /dev/null -D - -X PUT "${bearer[@]}" -H "Content-Range: bytes 0-8388607/$size" \
  --data-binary @"$work/chunk1" "$session" | tr -d '\r')
printf '%s\n' "$headers" | grep -q '^HTTP/1.1 308' || fail "chunk 1 not answered with 308"
printf '%s\n' "$headers" | grep -q '^Range: bytes=0-8388607$' || fail "chunk 1 range: $headers"
printf '%s\n' "$headers" | grep -qi '^Location:' && fail "308 with a Location"
status=$(curl -s -o /dev/null -D - -X PUT "${bearer[@]}" -H "Content-Range: bytes */$size" "$session" | tr -d '\r')
printf '%s\n' "$status" | grep -q '^Range: bytes=0-8388607$' || fail "status query"
curl -sf -X PUT "${bearer[@]}" -H "Content-Range: bytes 8388608-$((size - 1))/$size" \
  --data-binary @"$work/chunk2" "$session" >"$work/item.json"
id=$(field id <"$work/item.json")
[ "$(field md5Checksum <"$work/item.json")" = "$(md5sum "$work/up.bin" | cut -d' ' -f1)" ] || fail "md5 of the upload"
echo "uploaded $id"

# 5. Download: all of it, then a resumed tail.
curl -sf "${bearer[@]}" -o "$work/down.bin" "$base/drive/v3/files/$id?alt=media&supportsAllDrives=true"
cmp -s "$work/up.bin" "$work/down.bin" || fail "download differs"
headers=$(curl -s -D - -o "$work/tail.bin" "${bearer[@]}" -H 'Range: bytes=8000000-' \
  "$base/drive/v3/files/$id?alt=media&supportsAllDrives=true" | tr -d '\r')
printf '%s\n' "$headers" | grep -q "^Content-Range: bytes 8000000-$((size - 1))/$size$" || fail "Content-Range"
tail -c +8000001 "$work/up.bin" | cmp -s - "$work/tail.bin" || fail "ranged download differs"
echo "downloaded and compared"

# 6. A small file as one multipart request.
printf 'Xin chào Drive!\n' >"$work/small.txt"
{ printf -- '--B\r\nContent-Type: application/json; charset=UTF-8\r\n\r\n{"name":"chào.txt","parents":["%s"]}\r\n' "$root"
  printf -- '--B\r\nContent-Type: text/plain\r\n\r\n'; cat "$work/small.txt"; printf -- '\r\n--B--\r\n'; } >"$work/multipart"
small=$(curl -sf "${bearer[@]}" -H 'Content-Type: multipart/related; boundary=B' --data-binary @"$work/multipart" \
  "$base/upload/drive/v3/files?uploadType=multipart&supportsAllDrives=true&fields=id,size" | field id)
curl -sf "${bearer[@]}" "$base/drive/v3/files/$small?alt=media" | cmp -s - "$work/small.txt" || fail "multipart content"
echo "multipart upload $small"

# 7. An expired token gives 401; a refresh brings a new one and no new refresh token.
curl -sf -X POST "$base/__control/tokens/expire" --data-binary "{\"token\":\"$access\"}" >/dev/null
code401=$(curl -s -o /dev/null -w '%{http_code}' "${bearer[@]}" "$base/drive/v3/about?fields=user")
[ "$code401" = 401 ] || fail "expired token answered $code401"
curl -sf "$base/token" --data-urlencode "client_id=$client_id" --data-urlencode "client_secret=$client_secret" \
  --data-urlencode "refresh_token=$refresh" --data-urlencode grant_type=refresh_token >"$work/refresh.json"
grep -q refresh_token "$work/refresh.json" && fail "refresh answered a new refresh token"
access=$(field access_token <"$work/refresh.json")
curl -sf -H "Authorization: Bearer $access" "$base/drive/v3/about?fields=user" >/dev/null || fail "refreshed token"
echo "refreshed"

kill "$pid"
wait "$pid" || fail "the emulator did not exit cleanly"
pid=
echo "walkthrough passed"
