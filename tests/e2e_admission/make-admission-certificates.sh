#!/bin/sh
# Certificates for the admission tests, none of which the real agent trusts:
#   anchor        the test agent's only trust anchor
#   team          OU ADMTEST001 (the test bundle's team)
#   other         OU OTHERTEAM0
#   extension     OU OTHERTEAM0 with the 1.2.840.113635.100.6.1.9 extension
#   expired       OU ADMTEST001, validity over in 2020
#   foreign       OU ADMTEST001 under a second, untrusted anchor
#   make-admission-certificates.sh <output dir>
set -eu
out=$1
mkdir -p "$out"
cd "$out"
root() { # name, subject
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 -subj "$2" \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -keyout "$1-key.pem" -out "$1.pem" 2>/dev/null
}
request() { # name, subject, extra extension line
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "$2" \
        -keyout "$1-key.pem" -out "$1.csr" 2>/dev/null
    printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n%s\n' "$3" \
        > "$1.ext"
}
issue() { # name, issuer, subject, extra extension line
    request "$1" "$3" "${4:-}"
    openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2-key.pem" -CAcreateserial \
        -days 3650 -extfile "$1.ext" -out "$1.pem" 2>/dev/null
    rm -f "$1.csr" "$1.ext"
}
root anchor "/O=Admission Test/CN=Admission Test Root"
root foreign-anchor "/O=Elsewhere/CN=Foreign Root"
issue team anchor "/O=Admission Test/OU=ADMTEST001/CN=Team"
issue other anchor "/O=Admission Test/OU=OTHERTEAM0/CN=Other Team"
issue extension anchor "/O=Admission Test/OU=OTHERTEAM0/CN=Store Client" \
    "1.2.840.113635.100.6.1.9=ASN1:NULL"
issue foreign foreign-anchor "/O=Elsewhere/OU=ADMTEST001/CN=Impostor"

# A certificate whose validity ended long ago needs the ca command's explicit dates.
request expired "/O=Admission Test/OU=ADMTEST001/CN=Expired" ""
mkdir -p ca
: > ca/index.txt
echo 01 > ca/serial
printf '[ca]\ndefault_ca = t\n[t]\ndatabase = ca/index.txt\nnew_certs_dir = ca\nserial = ca/serial
policy = p\n[p]\ncommonName = supplied\n' > ca.cnf
openssl ca -batch -config ca.cnf -md sha256 -cert anchor.pem -keyfile anchor-key.pem \
    -in expired.csr -extfile expired.ext -startdate 20200101000000Z -enddate 20200201000000Z \
    -notext -preserveDN -out expired.pem 2>/dev/null
rm -f expired.csr expired.ext
chmod a+r ./*.pem
