#!/usr/bin/env bash
# From `cvs init` to a password login through a CVS server on loopback, then
# the same repository administered through that server with -c. Run it as
# root from the top of the source tree, after the build.
set -euo pipefail
export PATH="$PWD/build:$PATH"
top=$(mktemp -d) && chmod 755 "$top"
repo=$top/cvsroot
port=${PORT:-2401}

# A repository, and its first user. -C stores a hash made elsewhere, here a
# SHA-512 one (a typed password would get DES, which counts 8 characters).
# The server runs alice's sessions as the system user nobody.
cvs -d "$repo" init
touch "$repo/CVSROOT/users"  # addresses are kept only once it exists
printf '%s\nnobody\nalice@example.org\n' "$(openssl passwd -6 -stdin <<<'correct horse')" |
  rosterkeep -C -d "$repo" add alice
rosterkeep -d "$repo" list

# For -c, passwd and users go into the CVSROOT module and checkoutlist,
# so that a commit rebuilds the files the server reads.
mkdir "$top/admin"
(cd "$top/admin" && cvs -Q -d "$repo" checkout CVSROOT && cd CVSROOT &&
  cp "$repo/CVSROOT/passwd" "$repo/CVSROOT/users" . &&
  printf 'passwd\nusers\n' >>checkoutlist &&
  cvs -Q add passwd users && cvs -Q commit -m 'users of the repository')
chown -R nobody "$repo"

# The server, as inetd would start it, and alice's login.
socat TCP-LISTEN:"$port",bind=127.0.0.1,reuseaddr,fork \
  EXEC:"cvs -f --allow-root=$repo pserver" &
server=$!
trap 'kill $server' EXIT
sleep 1
export HOME=$top  # cvs login keeps the password in ~/.cvspass
cvs -d ":pserver:alice:correct horse@127.0.0.1:$port$repo" login

# Through the server: add bob with -c, and bob logs in.
printf '%s\nnobody\nbob@example.org\n' "$(openssl passwd -6 -stdin <<<'battery staple')" |
  rosterkeep -c -C -d ":pserver:alice@127.0.0.1:$port$repo" add bob
cvs -d ":pserver:bob:battery staple@127.0.0.1:$port$repo" login
rosterkeep -d "$repo" list
