"""Makes PKCS#12 files with Python's cryptography package in every way the installed version
offers (BestAvailableEncryption, the PKCS#12 encryption builder with each of its key and
certificate algorithms, with and without an HMAC digest, with KDF rounds; RSA, EC, Ed25519,
Ed448 and DSA keys; self-signed and CA-signed certificates; additional certificates with and
without friendly names; Java truststores where it writes them), changes the PIN of each with the
tool and lets cryptography read the result: it must open it with the new PIN and not the old,
and give back the same key, certificate, additional certificates and friendly names. An
independent reader (pfx_der.py, which decrypts every part and key) checks that the
MAC verifies with the new PIN, that every bag keeps its attributes and contents and that every
algorithm identifier is the same but for salts and IVs. A refusal is a failure; the file must
then be as it was. Prints one line per file.
The files are made once per build and kept in CACHE, keyed by this script and the versions of
cryptography and its OpenSSL.
Usage: check_python_cryptography.py CHANGE-PIN-CLI CACHE"""

import datetime
import hashlib
import os
import pickle
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import pfx_der  # noqa: E402
from pfx_der import decode  # noqa: E402

import cryptography  # noqa: E402
from cryptography import x509  # noqa: E402
from cryptography.hazmat.primitives import hashes, serialization  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import dsa, ec, ed448, ed25519, rsa  # noqa: E402
from cryptography.hazmat.primitives.serialization import pkcs12  # noqa: E402
from cryptography.x509.oid import NameOID  # noqa: E402

CHANGE = sys.argv[1]
CACHE = sys.argv[2]
OLD = "Grüße€"
NEW = "Schlüssel€ 2"
ENV = dict(os.environ, LC_ALL="C.UTF-8")
START = datetime.datetime(2026, 1, 1)


# ---- keys and certificates -------------------------------------------------------------------

def name(text):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, text)])


def certificate(subject, key, issuer=None, issuer_key=None, ca=False):
    """A certificate for `key`, signed by `issuer_key` (self-signed without one)."""
    issuer_key = issuer_key or key
    digest = None if isinstance(issuer_key, (ed25519.Ed25519PrivateKey,
                                             ed448.Ed448PrivateKey)) else hashes.SHA256()
    return (x509.CertificateBuilder()
            .subject_name(name(subject)).issuer_name(name(issuer or subject))
            .public_key(key.public_key()).serial_number(x509.random_serial_number())
            .not_valid_before(START).not_valid_after(START + datetime.timedelta(days=3650))
            .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True)
            .sign(issuer_key, digest))


def make_keys():
    """The key types this version can generate and write into a PKCS#12 file, and the ones
    it cannot, with why."""
    makers = [
        ("rsa", lambda: rsa.generate_private_key(public_exponent=65537, key_size=2048)),
        ("ec-p256", lambda: ec.generate_private_key(ec.SECP256R1())),
        ("ec-p384", lambda: ec.generate_private_key(ec.SECP384R1())),
        ("ed25519", ed25519.Ed25519PrivateKey.generate),
        ("ed448", ed448.Ed448PrivateKey.generate),
        ("dsa", lambda: dsa.generate_private_key(key_size=2048)),
    ]
    keys, missing = {}, []
    for kind, make in makers:
        try:
            key = make()
            pkcs12.serialize_key_and_certificates(
                b"probe", key, certificate("probe", key), None,
                serialization.BestAvailableEncryption(b"probe"))
            keys[kind] = key
        except Exception as error:  # not in this version, or not in its OpenSSL
            missing.append("%s (%s)" % (kind, error))
    return keys, missing


def optional_hmacs():
    """Of the MAC digests beyond SHA-1 and SHA-2, those the installed builder writes. Tried in
    a child process: some versions abort on a digest they lack instead of raising an error."""
    probe = """
import sys
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.serialization import PrivateFormat, pkcs12
key = ec.generate_private_key(ec.SECP256R1())
for name in sys.argv[1:]:
    try:
        sealing = (PrivateFormat.PKCS12.encryption_builder()
                   .hmac_hash(getattr(hashes, name)()).build(b"probe"))
        pkcs12.load_pkcs12(pkcs12.serialize_key_and_certificates(b"p", key, None, None, sealing),
                           b"probe")
        print(name)
    except BaseException:
        pass
"""
    names = ["SHA224", "SHA3_256", "SHA3_512", "MD5"]
    done = subprocess.run([sys.executable, "-c", probe] + names, capture_output=True, text=True)
    return [getattr(hashes, n)() for n in done.stdout.split() if n in names]


# ---- an independent account of a file -------------------------------------------------------

def mac_verdict(data, password):
    return pfx_der.check_mac(decode(data), password)[0]


# ---- reading with cryptography ---------------------------------------------------------------

def der(cert):
    return cert.public_bytes(serialization.Encoding.DER)


def key_bytes(key):
    return key.private_bytes(serialization.Encoding.DER, serialization.PrivateFormat.PKCS8,
                             serialization.NoEncryption()) if key is not None else None


def load(data, pin):
    """(key, [(certificate, friendly name)]) as cryptography reads the file, or None."""
    try:
        loaded = pkcs12.load_pkcs12(data, pin.encode("utf-8"))
    except ValueError:
        return None
    certs = ([loaded.cert] if loaded.cert else []) + list(loaded.additional_certs)
    return key_bytes(loaded.key), [(der(c.certificate), c.friendly_name) for c in certs]


def unordered(snapshot):
    key, certs = snapshot
    return key, sorted(certs, key=lambda pair: (pair[0], pair[1] or b""))


# ---- the files -------------------------------------------------------------------------------

class Case:
    def __init__(self, label, key=None, cert=None, cas=(), friendly=None, sealing=None,
                 truststore=False):
        self.label, self.key, self.cert, self.cas = label, key, cert, list(cas)
        self.friendly, self.sealing, self.truststore = friendly, sealing, truststore

    def write(self):
        if self.truststore:
            return pkcs12.serialize_java_truststore(self.cas, self.sealing)
        return pkcs12.serialize_key_and_certificates(self.friendly, self.key, self.cert,
                                                     self.cas or None, self.sealing)

    def expected(self):
        """What went in, as load() gives it back (up to order)."""
        certs = [(der(self.cert), self.friendly)] if self.cert else []
        for ca in self.cas:
            if isinstance(ca, pkcs12.PKCS12Certificate):
                certs.append((der(ca.certificate), ca.friendly_name))
            else:
                certs.append((der(ca), None))
        return unordered((key_bytes(self.key), certs))


def cases():
    keys, missing = make_keys()
    notes = ["cryptography %s; no %s" % (cryptography.__version__, ", ".join(missing))
             if missing else "cryptography %s" % cryptography.__version__]
    root_key = ec.generate_private_key(ec.SECP384R1())
    root = certificate("Produzenten-Wurzel €", root_key, ca=True)
    other_key = ec.generate_private_key(ec.SECP256R1())
    other = certificate("Zweiter Nutzer", other_key, "Produzenten-Wurzel €", root_key)
    certs = {}
    for kind, key in keys.items():
        if kind == "ec-p256":
            certs[kind] = certificate("Erika Müller (selbst)", key)
        else:
            certs[kind] = certificate("Erika Müller (%s)" % kind, key, "Produzenten-Wurzel €",
                                      root_key)
    named_root = pkcs12.PKCS12Certificate(root, "Wurzel € CA".encode())
    erika = "Erika Müller".encode()
    best = serialization.BestAvailableEncryption(OLD.encode())
    out = []

    for kind in keys:
        chain = [named_root] if kind == "rsa" else [root] if kind != "ec-p256" else []
        out.append(Case("best-%s" % kind, keys[kind], certs[kind], chain,
                        erika if kind != "ec-p256" else None, best))
    first = next(iter(keys))
    out += [
        Case("best-several-cas", keys[first], certs[first],
             [named_root, pkcs12.PKCS12Certificate(other, "Zweiter € Nutzer".encode()), other],
             "Schlüssel €".encode(), best),
        Case("best-cert-only", None, certs[first], [named_root], erika, best),
        Case("best-cas-only", None, None, [named_root, other], None, best),
        Case("best-key-only", keys[first], None, [], erika, best),
    ]

    builder = getattr(serialization.PrivateFormat.PKCS12, "encryption_builder", None)
    if builder is None:
        notes.append("no PKCS#12 encryption builder")
    else:
        out.append(Case("builder-defaults", keys[first], certs[first], [named_root], erika,
                        builder().build(OLD.encode())))
        digests = [None, hashes.SHA1(), hashes.SHA256(), hashes.SHA384(), hashes.SHA512()]
        extra = optional_hmacs()
        notes.append("HMAC digests beyond SHA-1 and SHA-2: %s" % (
            ", ".join(h.name for h in extra) or "none"))
        rounds = [1000, 2048, 1, 5000, 20000, 3000, 777]
        kinds = list(keys)
        for algorithm in pkcs12.PBES:
            for digest in digests + extra:
                n = len(out)
                kind = kinds[n % len(kinds)]
                sealing = builder().key_cert_algorithm(algorithm).kdf_rounds(rounds[n % 7])
                if digest is not None:
                    sealing = sealing.hmac_hash(digest)
                cas = [[named_root, other], [root], []][n % 3]
                out.append(Case("builder-%s-%s-%d" % (
                    algorithm.name, digest.name if digest else "nohmac", rounds[n % 7]),
                    keys[kind], certs[kind], cas, erika if n % 2 else None,
                    sealing.build(OLD.encode())))

    if not hasattr(pkcs12, "serialize_java_truststore"):
        notes.append("no serialize_java_truststore")
    else:
        store = [pkcs12.PKCS12Certificate(root, b"wurzel"),
                 pkcs12.PKCS12Certificate(other, "zweiter nutzer €".encode())]
        out.append(Case("truststore-best", cas=store, sealing=best, truststore=True))
        if builder is not None:
            for algorithm, digest in zip(pkcs12.PBES, (hashes.SHA1(), hashes.SHA512())):
                sealing = (builder().key_cert_algorithm(algorithm).hmac_hash(digest)
                           .kdf_rounds(4096).build(OLD.encode()))
                out.append(Case("truststore-%s-%s" % (algorithm.name, digest.name),
                                cas=store, sealing=sealing, truststore=True))
    return out, notes


# ---- the check -------------------------------------------------------------------------------

def leftovers(path):
    folder, base = os.path.split(path)
    return sorted(f for f in os.listdir(folder) if f.startswith("." + base + ".pintool-"))


def made_files():
    """(label, the file's bytes, what load() must give back) for every case, and the notes: from
    the cache when this script and the same versions of cryptography and OpenSSL made them."""
    from cryptography.hazmat.backends.openssl import backend
    with open(__file__, "rb") as source:
        key = hashlib.sha256(source.read() + cryptography.__version__.encode()
                             + backend.openssl_version_text().encode()).hexdigest()[:16]
    path = os.path.join(CACHE, "python-cryptography-%s.pickle" % key)
    if os.path.exists(path):
        with open(path, "rb") as cached:
            return pickle.load(cached)
    all_cases, notes = cases()
    made = ([(case.label, case.write(), case.expected()) for case in all_cases], notes)
    os.makedirs(CACHE, exist_ok=True)
    with tempfile.NamedTemporaryFile(dir=CACHE, delete=False) as out:
        pickle.dump(made, out)
    os.replace(out.name, path)
    return made


def check(original, expected, path):
    """The problems of one file, or [] when everything holds."""
    with open(path, "wb") as out:
        out.write(original)
    os.chmod(path, 0o640)
    before = load(original, OLD)
    if before is None:
        return ["cryptography cannot read what it wrote"]
    if unordered(before) != expected:
        return ["cryptography reads back other contents than it wrote"]
    bags_before, layout_before = pfx_der.bag_lines(original, OLD), pfx_der.describe(original, OLD)[1]

    done = subprocess.run([CHANGE, path, OLD.encode(), NEW.encode()], capture_output=True,
                          env=ENV)
    message = (done.stdout + done.stderr).decode("utf-8", "replace").strip()
    with open(path, "rb") as source:
        data = source.read()
    stray = ["it left %s" % f for f in leftovers(path)]
    if done.returncode != 0:
        return (["refused: %s" % message] + (["and the file changed"] if data != original else [])
                + stray)
    problems = stray
    if os.stat(path).st_mode & 0o7777 != 0o640:
        problems.append("its mode changed to %o" % (os.stat(path).st_mode & 0o7777))
    after = load(data, NEW)
    if after is None:
        problems.append("cryptography does not open it with the new PIN")
    elif after != before:
        problems.append("cryptography reads other keys, certificates or friendly names")
    if load(data, OLD) is not None:
        problems.append("cryptography still opens it with the old PIN")
    if mac_verdict(data, NEW) != "ok":
        problems.append("its MAC does not verify with the new PIN")
    if mac_verdict(data, OLD) == "ok":
        problems.append("its MAC still verifies with the old PIN")
    bags_after = pfx_der.bag_lines(data, NEW)
    if bags_after is None:
        problems.append("a part or key does not decrypt with the new PIN")
    elif bags_after != bags_before:
        problems.append("other bags or attributes: %r -> %r" % (bags_before, bags_after))
    layout_after = pfx_der.describe(data, NEW)[1]
    if layout_after != layout_before:
        problems.append("other algorithms: %r -> %r" % (layout_before, layout_after))
    return problems


def main():
    all_cases, notes = made_files()
    for note in notes:
        print("note " + note)
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        for label, original, expected in all_cases:
            path = os.path.join(work, label + ".p12")
            problems = check(original, expected, path)
            if problems:
                failures += 1
                print("FAIL %s: %s" % (label, "; ".join(problems)))
            else:
                print("ok   %s" % label)
    print("%d passed, %d failed" % (len(all_cases) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
