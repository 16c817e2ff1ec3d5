#!/bin/sh
# make-admission-certificates.sh <output dir>: the admission tests' certificates, none of which
# the real agent trusts. "anchor" is the test agent's only trust anchor; "extension" carries the
# 1.2.840.113635.100.6.1.9 extension; "foreign" is under an anchor the agent does not trust.
set -eu
mkdir -p "$1"
cd "$1"
root() { # name, subject
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 -subj "$2" \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -keyout "$1-key.pem" -out "$1.pem" 2>/dev/null
}
issue() { # name, issuer, subject, days, extra extension line
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "$3" \
        -keyout "$1-key.pem" -out "$1.csr" 2>/dev/null
    printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n%s\n' \
        "${5:-}" > "$1.ext"
    openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2-key.pem" -CAcreateserial \
        -days "$4" -extfile "$1.ext" -out "$1.pem" 2>/dev/null
    rm -f "$1.csr" "$1.ext"
}
root anchor "/O=Admission Test/CN=Admission Test Root"
root foreign-anchor "/O=Elsewhere/CN=Foreign Root"
issue team anchor "/O=Admission Test/OU=ADMTEST001/CN=Team" 3650
issue other anchor "/O=Admission Test/OU=OTHERTEAM0/CN=Other Team" 3650
issue extension anchor "/O=Admission Test/OU=OTHERTEAM0/CN=Store Client" 3650 \
    "1.2.840.113635.100.6.1.9=ASN1:NULL"
issue foreign foreign-anchor "/O=Elsewhere/OU=ADMTEST001/CN=Impostor" 3650
issue expired anchor "/O=Admission Test/OU=ADMTEST001/CN=Expired" -1
chmod a+r ./*.pem
