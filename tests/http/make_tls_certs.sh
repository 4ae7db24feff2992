#!/usr/bin/env bash
# Throw-away certificates for the TLS tests, made in DIR with the openssl command line:
#   ca.pem            the test CA (trusted by the tests through a CA file)
#   good.pem/key      localhost, 127.0.0.1 and 127.0.0.2, issued by the test CA
#   wrongname.pem/key only wrong.example, issued by the test CA
#   expired.pem/key   localhost and 127.0.0.1, valid in January 2020 only
#   self.pem/key      localhost and 127.0.0.1, signed by itself
#   other.pem/key     localhost, 127.0.0.1 and 127.0.0.2, issued by a second CA nobody trusts
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"

key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
ca() { # name subject
  key "$1.key"
  openssl req -x509 -new -key "$1.key" -out "$1.pem" -days 30 -subj "$2" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}
csr() { # name subject san
  key "$1.key"
  openssl req -new -key "$1.key" -out "$1.csr" -subj "$2" 2>/dev/null
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$3" > "$1.ext"
}
issue() { # name ca
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -out "$1.pem" -days 30 \
    -extfile "$1.ext" 2>/dev/null
}

ca ca "/CN=Updater Test CA"
ca otherca "/CN=Untrusted Test CA"

csr good "/CN=localhost/O=Updater Tests" "DNS:localhost,IP:127.0.0.1,IP:127.0.0.2"
issue good ca
csr wrongname "/CN=wrong.example/O=Updater Tests" "DNS:wrong.example"
issue wrongname ca
csr other "/CN=localhost/O=Other CA" "DNS:localhost,IP:127.0.0.1,IP:127.0.0.2"
issue other otherca

csr self "/CN=localhost/O=Self Signed" "DNS:localhost,IP:127.0.0.1"
openssl x509 -req -in self.csr -key self.key -out self.pem -days 30 -extfile self.ext 2>/dev/null

# A certificate whose validity ended long ago needs explicit dates, which only "openssl ca"
# takes.
csr expired "/CN=localhost/O=Expired" "DNS:localhost,IP:127.0.0.1"
: > index.txt
echo 1000 > serial
cat > ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = $PWD/index.txt
new_certs_dir = $PWD
serial = $PWD/serial
default_md = sha256
policy = any
copy_extensions = copy
[any]
commonName = supplied
organizationName = optional
CNF
openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem \
  -startdate 20200101000000Z -enddate 20200201000000Z -extfile expired.ext -notext 2>/dev/null
