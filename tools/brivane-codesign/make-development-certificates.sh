#!/bin/sh
# Creates the development trust anchor and two certificates it issues, both with the team
# identifier as organisational unit: one for executables, one for installer packages.
#   make-development-certificates.sh <output dir> <team id>
set -eu
out=$1
team=$2
mkdir -p "$out"
cd "$out"
days=3650
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days $days \
    -subj "/O=Brivane/CN=Brivane Development Root" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout anchor-key.pem -out anchor.pem 2>/dev/null
issue() { # name, subject
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "$2" \
        -keyout "$1-key.pem" -out "$1.csr" 2>/dev/null
    printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n' > "$1.ext"
    openssl x509 -req -in "$1.csr" -CA anchor.pem -CAkey anchor-key.pem -CAcreateserial \
        -days $days -extfile "$1.ext" -out "$1.pem" 2>/dev/null
    rm -f "$1.csr" "$1.ext"
}
issue team "/O=Brivane/OU=$team/CN=Brivane Development ($team)"
issue installer "/O=Brivane/OU=$team/CN=Developer ID Installer: Brivane Development"
