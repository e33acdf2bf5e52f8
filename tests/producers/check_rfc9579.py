"""Changes the PIN of the PKCS#12 files RFC 9579 publishes as its PBMAC1 test vectors
(rfc9579_vectors.txt, password "1234") and of files made from them, and checks the result
independently. The valid ones (A.1 to A.3) must change: afterwards their PBMAC1 MAC verifies
with the new PIN and not the old, the parts and keys decrypt with the new PIN to the same bags,
every algorithm identifier is the same but for salts and IVs, and MacData keeps the file's own
convention: "NOT USED" and 1 stay, a macSalt and count that repeat PBKDF2's follow its new salt.
The invalid ones (A.4 to A.6, and a key shorter than the HMAC's output, a truncated and a forged
MAC made here) must be refused with the file as it was and no temporary file left beside it.
A verifier follows RFC 9579: the key comes from the PBKDF2 parameters alone; MacData's macSalt
and iterations do not take part. Prints one line per file.
Usage: check_rfc9579.py CHANGE-PIN-CLI"""

import base64
import hashlib
import hmac
import os
import re
import subprocess
import sys
import tempfile
import warnings

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import pfx_der  # noqa: E402
from pfx_der import INTEGER, OCTETS, SEQUENCE, Node, decode, encode, integer, oid  # noqa: E402

CHANGE = sys.argv[1]
VECTORS = os.path.join(HERE, "rfc9579_vectors.txt")
OLD = "1234"
NEW = "Schlüssel€ 2"
ENV = dict(os.environ, LC_ALL="C.UTF-8")
VALID = {"A.1", "A.2", "A.3"}


def read_vectors():
    """[(section, title, DER)] in the order of the file."""
    sections = []
    with open(VECTORS, encoding="utf-8") as source:
        for line in source:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            heading = re.match(r"(A\.\d+)\.\s+(.+)", line)
            if heading:
                sections.append((heading.group(1), heading.group(2), []))
            else:
                sections[-1][2].append(line)
    return [(section, title, base64.b64decode("".join(lines), validate=True))
            for section, title, lines in sections]


# ---- PBMAC1 ----------------------------------------------------------------------------------

class Pbmac1:
    """What a file's MacData says: the PBKDF2 salt, count, key length (None when missing) and PRF,
    the HMAC, the MAC value, and MacData's own macSalt and iterations."""

    def __init__(self, data):
        pfx = decode(data)
        if len(pfx.value) < 3:
            raise ValueError("no MacData")
        mac = pfx.value[2]
        algorithm, value = mac.value[0].value
        if oid(algorithm.value[0]) != pfx_der.PBMAC1:
            raise ValueError("not PBMAC1")
        kdf, scheme = algorithm.value[1].value
        if oid(kdf.value[0]) != pfx_der.PBKDF2 or kdf.value[1].value[0].tag != OCTETS:
            raise ValueError("not PBKDF2 with a salt given")
        fields = kdf.value[1].value
        self.salt, self.count = fields[0].value, integer(fields[1])
        self.key_length = next((integer(f) for f in fields[2:] if f.tag == INTEGER), None)
        self.prf_node = next((f for f in fields[2:] if f.tag == SEQUENCE), None)
        self.prf = pfx_der.HMACS.get(oid(self.prf_node.value[0])) if self.prf_node else "sha1"
        self.scheme_node = scheme
        self.hmac = pfx_der.HMACS.get(oid(scheme.value[0]))
        self.value = value.value
        self.mac_salt = mac.value[1].value
        self.mac_iterations = integer(mac.value[2]) if len(mac.value) > 2 else 1
        self.content = pfx_der.authenticated_safe(pfx).octets()
        self.pfx = pfx


def verify(data, password):
    """'ok', 'wrong' or 'refused: why'. MacData's macSalt and iterations are not looked at."""
    try:
        mac = Pbmac1(data)
    except (ValueError, IndexError) as error:
        return "refused: %s" % error
    if mac.prf is None or mac.hmac is None:
        return "refused: an unknown PRF or HMAC"
    if mac.key_length is None:
        return "refused: no PBKDF2 key length"
    # A key shorter than the HMAC's output weakens the MAC; such files are refused.
    if mac.key_length < hashlib.new(mac.hmac).digest_size:
        return "refused: a key shorter than the HMAC's output"
    key = hashlib.pbkdf2_hmac(mac.prf, password.encode("utf-8"), mac.salt, mac.count,
                              mac.key_length)
    good = hmac.compare_digest(hmac.new(key, mac.content, mac.hmac).digest(), mac.value)
    return "ok" if good else "wrong"


def remade(data, password, mac_salt, mac_iterations, key_length=None, flaw=None):
    """`data` with its PBMAC1 MAC made again under `password`: the same PBKDF2 salt, count, PRF
    and HMAC, the key length `key_length` (the file's where None), and MacData's macSalt and
    iterations as given (iterations left out where None). `flaw`: 'truncated' drops the MAC's
    last byte, 'forged' flips one bit of it."""
    mac = Pbmac1(data)
    length = key_length or mac.key_length
    fields = [Node(OCTETS, mac.salt), pfx_der.make_int(mac.count), pfx_der.make_int(length)]
    if mac.prf_node is not None:
        fields.append(mac.prf_node)
    params = Node(SEQUENCE, [
        Node(SEQUENCE, [pfx_der.make_oid(pfx_der.PBKDF2), Node(SEQUENCE, fields)]),
        mac.scheme_node,
    ])
    key = hashlib.pbkdf2_hmac(mac.prf, password.encode("utf-8"), mac.salt, mac.count, length)
    value = hmac.new(key, mac.content, mac.hmac).digest()
    if flaw == "truncated":
        value = value[:-1]
    elif flaw == "forged":
        value = value[:-1] + bytes([value[-1] ^ 0x01])
    mac_data = [
        Node(SEQUENCE, [Node(SEQUENCE, [pfx_der.make_oid(pfx_der.PBMAC1), params]),
                        Node(OCTETS, value)]),
        Node(OCTETS, mac_salt),
    ]
    if mac_iterations is not None:
        mac_data.append(pfx_der.make_int(mac_iterations))
    return encode(Node(SEQUENCE, mac.pfx.value[:2] + [Node(SEQUENCE, mac_data)]))


# ---- contents --------------------------------------------------------------------------------

def protection(data, pin):
    """Every algorithm identifier with its salts and IVs left out, and MacData's salt length
    and iterations."""
    return pfx_der.describe(data, pin)[1]


def cryptography_reader():
    """load_pkcs12 of Python's cryptography where the installed one checks PBMAC1 (its OpenSSL
    3.4 or later does), else None."""
    try:
        from cryptography.hazmat.primitives.serialization import pkcs12
    except ImportError:
        return None, "not installed"

    def load(data, pin):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # it warns of the vectors' explicit iterations 1
            try:
                return pkcs12.load_pkcs12(data, pin.encode("utf-8"))
            except ValueError:
                return None
    a1 = dict((s, d) for s, _, d in read_vectors())["A.1"]
    import cryptography
    if load(a1, OLD) is None:
        return None, "cryptography %s does not read PBMAC1" % cryptography.__version__
    return load, "cryptography %s reads PBMAC1" % cryptography.__version__


def snapshot(loaded):
    from cryptography.hazmat.primitives import serialization
    key = loaded.key.private_bytes(serialization.Encoding.DER, serialization.PrivateFormat.PKCS8,
                                   serialization.NoEncryption()) if loaded.key else None
    certs = [(c.certificate.public_bytes(serialization.Encoding.DER), c.friendly_name)
             for c in ([loaded.cert] if loaded.cert else []) + loaded.additional_certs]
    return key, certs


# ---- the checks ------------------------------------------------------------------------------

def run_change(path, old, new):
    done = subprocess.run([CHANGE, path, old.encode("utf-8"), new.encode("utf-8")],
                          capture_output=True, env=ENV)
    return done.returncode, (done.stdout + done.stderr).decode("utf-8", "replace").strip()


def leftovers(path):
    folder, name = os.path.split(path)
    return sorted(f for f in os.listdir(folder) if f.startswith("." + name + ".pintool-"))


def check_valid(path, convention, reader):
    """Problems after the change of a file that must change. `convention`: 'not-used' (macSalt
    "NOT USED", iterations 1) or 'repeats' (macSalt and iterations those of PBKDF2)."""
    with open(path, "rb") as source:
        original = source.read()
    mode = os.stat(path).st_mode
    before = Pbmac1(original)
    if verify(original, OLD) != "ok":
        return ["the original does not verify with %r: %s" % (OLD, verify(original, OLD))]
    status, message = run_change(path, OLD, NEW)
    with open(path, "rb") as source:
        data = source.read()
    if status != 0:
        problems = ["refused: %s" % message]
        if data != original:
            problems.append("and the file changed")
        return problems + ["and it left %s" % f for f in leftovers(path)]
    problems = ["it left %s" % f for f in leftovers(path)]
    if os.stat(path).st_mode != mode:
        problems.append("its mode changed")
    try:
        after = Pbmac1(data)
    except (ValueError, IndexError) as error:
        return problems + ["the result's MAC is not PBMAC1: %s" % error]
    if verify(data, NEW) != "ok":
        problems.append("the MAC does not verify with the new PIN: %s" % verify(data, NEW))
    if verify(data, OLD) == "ok":
        problems.append("the MAC still verifies with the old PIN")
    was, now = pfx_der.bag_lines(original, OLD), pfx_der.bag_lines(data, NEW)
    if now is None:
        problems.append("a part or key does not decrypt with the new PIN")
    elif now != was:
        problems.append("other bags: %r -> %r" % (was, now))
    if protection(data, NEW) != protection(original, OLD):
        problems.append("other algorithms: %r -> %r" % (protection(original, OLD),
                                                          protection(data, NEW)))
    if convention == "not-used":
        if after.mac_salt != b"NOT USED" or after.mac_iterations != 1:
            problems.append("MacData holds macSalt %r, iterations %d instead of 'NOT USED', 1" % (
                after.mac_salt, after.mac_iterations))
    elif after.mac_salt != after.salt or after.mac_iterations != after.count:
        problems.append("MacData holds macSalt %s, iterations %d; PBKDF2 salt %s, count %d" % (
            after.mac_salt.hex(), after.mac_iterations, after.salt.hex(), after.count))
    if (after.count, after.key_length, after.prf, after.hmac, len(after.salt)) != (
            before.count, before.key_length, before.prf, before.hmac, len(before.salt)):
        problems.append("other PBKDF2 or HMAC parameters")
    if reader:
        loaded = reader(data, NEW)
        if loaded is None:
            problems.append("cryptography does not open it with the new PIN")
        elif snapshot(loaded) != snapshot(reader(original, OLD)):
            problems.append("cryptography reads other keys or certificates")
        if reader(data, OLD) is not None:
            problems.append("cryptography still opens it with the old PIN")
    return problems


def check_refused(path):
    with open(path, "rb") as source:
        original = source.read()
    status, message = run_change(path, OLD, NEW)
    with open(path, "rb") as source:
        data = source.read()
    problems = []
    if status == 0:
        problems.append("the PIN was changed (%s)" % message)
    if data != original:
        problems.append("the file changed")
    return problems + ["it left %s" % f for f in leftovers(path)]


def check_transcription(vectors):
    """The vectors as typed: valid DER, the valid ones verify, the invalid ones do not; A.4 to
    A.6 are A.1 with only MacData changed, and their MAC is A.1's."""
    problems = []
    for section, _, data in vectors:
        parsed = subprocess.run(["openssl", "asn1parse", "-inform", "DER"], input=data,
                                capture_output=True)
        if parsed.returncode != 0 or encode(decode(data)) != data:
            problems.append("%s is not DER" % section)
            continue
        verdict = verify(data, OLD)
        if (verdict == "ok") != (section in VALID):
            problems.append("%s verifies %s" % (section, verdict))
    by_section = dict((s, d) for s, _, d in vectors)
    a1 = Pbmac1(by_section["A.1"])
    for section in ("A.4", "A.5", "A.6"):
        other = Pbmac1(by_section[section])
        if other.content != a1.content or other.value != a1.value:
            problems.append("%s does not hold A.1's contents and MAC" % section)
    return problems


def main():
    vectors = read_vectors()
    if [s for s, _, _ in vectors] != ["A.1", "A.2", "A.3", "A.4", "A.5", "A.6"]:
        print("FAIL %s does not hold A.1 to A.6" % VECTORS)
        return 1
    reader, why = cryptography_reader()
    print("note %s%s" % (why, ": a further reader" if reader else ""))
    failures = 0
    problems = check_transcription(vectors)
    print("%s transcription of A.1 to A.6%s" % ("FAIL" if problems else "ok  ",
                                                ": " + "; ".join(problems) if problems else ""))
    failures += bool(problems)

    a1 = dict((s, d) for s, _, d in vectors)["A.1"]
    a1_mac = Pbmac1(a1)
    files = []  # (name, data, what must happen: 'not-used', 'repeats' or 'refused')
    for section, title, data in vectors:
        files.append(("%s %s" % (section, title), data,
                      "not-used" if section in VALID else "refused"))
    files.append(("A.1 with MacData repeating PBKDF2's salt and count",
                  remade(a1, OLD, a1_mac.salt, a1_mac.count), "repeats"))
    for convention, salt, iterations in (("NOT USED", b"NOT USED", 1),
                                         ("repeating PBKDF2's", a1_mac.salt, a1_mac.count)):
        files += [
            ("A.1 with a 31-byte key for HMAC-SHA-256, MacData %s" % convention,
             remade(a1, OLD, salt, iterations, key_length=31), "refused"),
            ("A.1 with its MAC truncated by a byte, MacData %s" % convention,
             remade(a1, OLD, salt, iterations, flaw="truncated"), "refused"),
            ("A.1 with a bit of its MAC flipped, MacData %s" % convention,
             remade(a1, OLD, salt, iterations, flaw="forged"), "refused"),
        ]

    with tempfile.TemporaryDirectory() as work:
        for number, (name, data, expected) in enumerate(files):
            folder = os.path.join(work, str(number))
            os.mkdir(folder)
            path = os.path.join(folder, "vector.p12")
            with open(path, "wb") as out:
                out.write(data)
            os.chmod(path, 0o640)
            if expected == "refused":
                problems = check_refused(path)
            else:
                problems = check_valid(path, expected, reader)
            if problems:
                failures += 1
                print("FAIL %s: %s" % (name, "; ".join(problems)))
            else:
                print("ok   %s%s" % (name, " (refused)" if expected == "refused" else ""))
    print("%d passed, %d failed" % (len(files) + 1 - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
