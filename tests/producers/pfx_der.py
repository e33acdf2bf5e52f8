"""A small, independent reader and writer of PKCS#12 files, on Python's standard library alone
(and the openssl command's ciphers for decryption). It checks what no program here checks:
PBMAC1 MACs and PBES2 parts whose PBKDF2 uses an HMAC-SHA-3 PRF. It also re-encodes files as
BER with indefinite lengths and gives files a PBMAC1 MAC, sound or deliberately broken."""

import hashlib
import hmac
import os
import subprocess
import sys

# ---- DER and BER ---------------------------------------------------------------------------

SEQUENCE, SET, OCTETS, INTEGER, OID, NULL = 0x30, 0x31, 0x04, 0x02, 0x06, 0x05


class Node:
    """One element: its tag byte and either its children (constructed) or its value."""

    def __init__(self, tag, value):
        self.tag = tag
        self.value = value  # list of Node, or bytes

    @property
    def constructed(self):
        return self.tag & 0x20 != 0

    def octets(self):
        """The value of an OCTET STRING, also of one in BER's constructed form."""
        if self.constructed:
            return b"".join(child.octets() for child in self.value)
        return self.value


def _read(data, at, end):
    tag = data[at]
    at += 1
    first = data[at]
    at += 1
    if first == 0x80:
        children = []
        while data[at:at + 2] != b"\0\0":
            child, at = _read(data, at, end)
            children.append(child)
        return Node(tag, children), at + 2
    if first & 0x80:
        count = first & 0x7F
        length = int.from_bytes(data[at:at + count], "big")
        at += count
    else:
        length = first
    stop = at + length
    if stop > end:
        raise ValueError("element beyond its container")
    if tag & 0x20:
        children = []
        while at < stop:
            child, at = _read(data, at, stop)
            children.append(child)
        return Node(tag, children), stop
    return Node(tag, data[at:stop]), stop


def decode(data):
    node, end = _read(data, 0, len(data))
    if end != len(data):
        raise ValueError("bytes after the element")
    return node


def _length(n):
    if n < 0x80:
        return bytes([n])
    raw = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(raw)]) + raw


def encode(node):
    if node.constructed:
        content = b"".join(encode(child) for child in node.value)
    else:
        content = node.value
    return bytes([node.tag]) + _length(len(content)) + content


def encode_ber(node, chunk=0):
    """Constructed elements with indefinite lengths; with `chunk`, OCTET STRINGs longer than
    that in BER's constructed form, cut into pieces of `chunk` bytes."""
    if node.tag == OCTETS and chunk and len(node.value) > chunk:
        pieces = [Node(OCTETS, node.value[i:i + chunk]) for i in range(0, len(node.value), chunk)]
        node = Node(0x24, pieces)
    if not node.constructed:
        return encode(node)
    content = b"".join(encode_ber(child, chunk) for child in node.value)
    return bytes([node.tag, 0x80]) + content + b"\0\0"


def oid(node):
    value = node.value
    parts = [value[0] // 40, value[0] % 40]
    number = 0
    for byte in value[1:]:
        number = (number << 7) | (byte & 0x7F)
        if not byte & 0x80:
            parts.append(number)
            number = 0
    return ".".join(map(str, parts))


def integer(node):
    return int.from_bytes(node.value, "big", signed=True)


def make_oid(text):
    numbers = [int(p) for p in text.split(".")]
    out = bytearray([numbers[0] * 40 + numbers[1]])
    for number in numbers[2:]:
        chunk = [number & 0x7F]
        number >>= 7
        while number:
            chunk.append(0x80 | (number & 0x7F))
            number >>= 7
        out += bytes(reversed(chunk))
    return Node(OID, bytes(out))


def make_int(n):
    return Node(INTEGER, n.to_bytes(max(1, (n.bit_length() + 8) // 8), "big", signed=True))


def masked(node):
    """The element with the contents of its OCTET STRINGs (salts, IVs) left out."""
    if node.tag == OCTETS and not node.constructed:
        return "octets(%d)" % len(node.value)
    if node.constructed:
        return "%02x(%s)" % (node.tag, " ".join(masked(child) for child in node.value))
    if node.tag == OID:
        return NAMES.get(oid(node), oid(node))
    return "%02x:%s" % (node.tag, node.value.hex())


# ---- algorithms ------------------------------------------------------------------------------

PKCS7_DATA, PKCS7_ENCRYPTED = "1.2.840.113549.1.7.1", "1.2.840.113549.1.7.6"
PBES2, PBKDF2, PBMAC1 = "1.2.840.113549.1.5.13", "1.2.840.113549.1.5.12", "1.2.840.113549.1.5.14"
KEY_BAG, SHROUDED_KEY_BAG = "1.2.840.113549.1.12.10.1.1", "1.2.840.113549.1.12.10.1.2"

HMACS = {  # HMAC and PRF identifiers: hashlib's name
    "1.2.840.113549.2.7": "sha1", "1.2.840.113549.2.8": "sha224",
    "1.2.840.113549.2.9": "sha256", "1.2.840.113549.2.10": "sha384",
    "1.2.840.113549.2.11": "sha512", "1.2.840.113549.2.12": "sha512_224",
    "1.2.840.113549.2.13": "sha512_256", "2.16.840.1.101.3.4.2.13": "sha3_224",
    "2.16.840.1.101.3.4.2.14": "sha3_256", "2.16.840.1.101.3.4.2.15": "sha3_384",
    "2.16.840.1.101.3.4.2.16": "sha3_512", "1.2.840.113549.2.6": "md5",
}
HMAC_OIDS = {name: number for number, name in HMACS.items()}

DIGESTS = {  # MAC digests of the PKCS#12 MAC: hashlib's name
    "1.3.14.3.2.26": "sha1", "2.16.840.1.101.3.4.2.4": "sha224",
    "2.16.840.1.101.3.4.2.1": "sha256", "2.16.840.1.101.3.4.2.2": "sha384",
    "2.16.840.1.101.3.4.2.3": "sha512", "2.16.840.1.101.3.4.2.5": "sha512_224",
    "2.16.840.1.101.3.4.2.6": "sha512_256", "2.16.840.1.101.3.4.2.7": "sha3_224",
    "2.16.840.1.101.3.4.2.8": "sha3_256", "2.16.840.1.101.3.4.2.9": "sha3_384",
    "2.16.840.1.101.3.4.2.10": "sha3_512", "1.2.840.113549.2.5": "md5",
}

CIPHERS = {  # PBES2 ciphers the checker decrypts: openssl enc's name, key length
    "2.16.840.1.101.3.4.1.2": ("aes-128-cbc", 16), "2.16.840.1.101.3.4.1.22": ("aes-192-cbc", 24),
    "2.16.840.1.101.3.4.1.42": ("aes-256-cbc", 32), "1.2.840.113549.3.7": ("des-ede3-cbc", 24),
    "1.2.392.200011.61.1.1.1.4": ("camellia-256-cbc", 32),
    "1.2.410.200046.1.1.2": ("aria-128-cbc", 16), "1.2.156.10197.1.104.2": ("sm4-cbc", 16),
}

NAMES = {number: "hmac-" + name for number, name in HMACS.items()}
NAMES.update({number: name for number, name in DIGESTS.items()})
NAMES.update({number: name for number, (name, _) in CIPHERS.items()})
NAMES.update({PBES2: "PBES2", PBKDF2: "PBKDF2", PBMAC1: "PBMAC1"})


def pkcs12_kdf(name, password, salt, iterations, purpose, size):
    """The key derivation of PKCS#12 (RFC 7292, appendix B) for the MAC key, purpose 3."""
    block = hashlib.new(name).block_size
    password = (password.encode("utf-16-be") + b"\0\0") if password else b""

    def stretch(data):  # repeated to a whole number of blocks
        size = block * ((len(data) + block - 1) // block)
        return (data * (size // len(data) + 1))[:size] if data else b""

    source = bytearray(stretch(salt) + stretch(password))
    out = b""
    while len(out) < size:
        value = bytes([purpose]) * block + bytes(source)
        for _ in range(iterations):
            value = hashlib.new(name, value).digest()
        out += value
        extended = (value * (block // len(value) + 1))[:block]
        addend = int.from_bytes(extended, "big") + 1
        for at in range(0, len(source), block):
            number = (int.from_bytes(source[at:at + block], "big") + addend) % (1 << (8 * block))
            source[at:at + block] = number.to_bytes(block, "big")
    return out[:size]


def pbkdf2_part(algorithm, password):
    """The key and IV of a PBES2 identifier with PBKDF2, or None where this cannot decrypt."""
    params = algorithm.value[1].value
    kdf, scheme = params[0].value, params[1].value
    if oid(kdf[0]) != PBKDF2 or oid(scheme[0]) not in CIPHERS:
        return None
    fields = kdf[1].value
    salt, iterations = fields[0].octets(), integer(fields[1])
    prf = "sha1"
    for field in fields[2:]:
        if field.tag == SEQUENCE:
            prf = HMACS.get(oid(field.value[0]))
    cipher, length = CIPHERS[oid(scheme[0])]
    if prf is None:
        return None
    key = hashlib.pbkdf2_hmac(prf, password.encode(), salt, iterations, length)
    return cipher, key, scheme[1].octets()


PBE_SHA1_3DES = "1.2.840.113549.1.12.1.3"


def pkcs12_3des_part(algorithm, password):
    """The key and IV of pbeWithSHAAnd3-KeyTripleDES-CBC."""
    params = algorithm.value[1].value
    salt, iterations = params[0].octets(), integer(params[1])
    return ("des-ede3-cbc", pkcs12_kdf("sha1", password, salt, iterations, 1, 24),
            pkcs12_kdf("sha1", password, salt, iterations, 2, 8))


def decrypt(algorithm, data, password):
    """The plaintext; False for a wrong password, None for a scheme this cannot decrypt: PBES2
    with PBKDF2 and PKCS#12's 3DES."""
    scheme = oid(algorithm.value[0])
    how = (pbkdf2_part(algorithm, password) if scheme == PBES2 else
           pkcs12_3des_part(algorithm, password) if scheme == PBE_SHA1_3DES else None)
    if how is None:
        return None
    cipher, key, iv = how
    done = subprocess.run(["openssl", "enc", "-d", "-" + cipher, "-K", key.hex(), "-iv", iv.hex()],
                          input=data, capture_output=True)
    return done.stdout if done.returncode == 0 else False


# ---- PKCS#12 ---------------------------------------------------------------------------------

def authenticated_safe(pfx):
    return pfx.value[1].value[1].value[0]  # ContentInfo, [0], OCTET STRING


def mac_data(pfx):
    return pfx.value[2] if len(pfx.value) > 2 else None


def widened(password):
    """The password as OpenSSL before 1.1.0 gave it to the PKCS#12 derivations: every UTF-8
    byte one character."""
    return password.encode().decode("latin-1")


def check_mac(pfx, password):
    """'ok', 'wrong', 'bad parameters' or 'unchecked' (a digest hashlib lacks), and a line on
    how the MAC is made."""
    mac = mac_data(pfx)
    if mac is None:
        return "ok", "no mac"
    digest_info, salt = mac.value[0], mac.value[1].octets()
    iterations = integer(mac.value[2]) if len(mac.value) > 2 else 1
    algorithm, value = digest_info.value[0], digest_info.value[1].octets()
    content = authenticated_safe(pfx).octets()
    if oid(algorithm.value[0]) != PBMAC1:
        line = "mac %s salt %d iterations %d" % (masked(algorithm), len(salt), iterations)
        name = DIGESTS.get(oid(algorithm.value[0]))
        if name is None:
            return "unchecked", line
        key = pkcs12_kdf(name, password, salt, iterations, 3, hashlib.new(name).digest_size)
        good = hmac.compare_digest(hmac.new(key, content, name).digest(), value)
        return ("ok" if good else "wrong"), line
    kdf, scheme = algorithm.value[1].value
    fields = kdf.value[1].value
    kdf_salt, kdf_iterations = fields[0].octets(), integer(fields[1])
    key_length = next((integer(f) for f in fields[2:] if f.tag == INTEGER), None)
    prf = next((HMACS.get(oid(f.value[0])) for f in fields[2:] if f.tag == SEQUENCE), "sha1")
    name = HMACS.get(oid(scheme.value[0]))
    line = "mac %s salt %d iterations %d" % (masked(algorithm), len(salt), iterations)
    # RFC 9579: the key comes from PBKDF2's own salt and count; the MAC data's are not used.
    if (prf is None or name is None or key_length is None
            or key_length < hashlib.new(name).digest_size):
        return "bad parameters", line
    key = hashlib.pbkdf2_hmac(prf, password.encode(), kdf_salt, kdf_iterations, key_length)
    good = hmac.compare_digest(hmac.new(key, content, name).digest(), value)
    return ("ok" if good else "wrong"), line


def describe(data, password, older=False):
    """The protection of every part and key, and, where this checker can open the file, its
    contents: every bag's type, attributes, certificate and decrypted key as digests. With
    `older` the MAC takes the password in the older encoding. Returns (opened, protection
    lines, content lines)."""
    pfx = decode(data)
    verdict, line = check_mac(pfx, widened(password) if older else password)
    protection, contents, opened = [line], [], verdict == "ok"
    for info in decode(authenticated_safe(pfx).octets()).value:
        kind = oid(info.value[0])
        if kind == PKCS7_ENCRYPTED:
            encrypted = info.value[1].value[0].value[1]  # EncryptedData, EncryptedContentInfo
            algorithm = encrypted.value[1]
            protection.append("part " + masked(algorithm))
            plain = decrypt(algorithm, encrypted.value[2].octets(), password)
            if not plain:
                opened = False
                continue
        else:
            protection.append("part in clear")
            plain = info.value[1].value[0].octets()
        for bag in decode(plain).value:
            kind = oid(bag.value[0])
            value = bag.value[1].value[0]
            attributes = encode(bag.value[2]).hex() if len(bag.value) > 2 else "-"
            if kind == SHROUDED_KEY_BAG:
                protection.append("key " + masked(value.value[0]))
                key = decrypt(value.value[0], value.value[1].octets(), password)
                if not key:
                    opened = False
                    continue
                content = key
            elif kind == KEY_BAG:
                protection.append("key in clear")
                content = encode(value)
            else:
                content = encode(value)
            contents.append("bag %s attributes %s content %s" % (
                "key" if kind in (KEY_BAG, SHROUDED_KEY_BAG) else kind, attributes,
                hashlib.sha256(content).hexdigest()[:16]))
    return opened, protection, contents


def with_pbmac1(data, password, prf, mac, iterations, salt_length, flaw=None, not_used=False):
    """The file with a PBMAC1 MAC (PBKDF2 with PRF `prf`, HMAC with `mac`, hashlib names) in
    place of any other; `flaw` breaks it: no-key-length, short-key, iterations and salt (PBKDF2
    states others than the MAC was made with), truncated, forged. The MAC data repeats PBKDF2's
    salt and count, or with `not_used` holds "NOT USED" and 1, as RFC 9579's examples do."""
    pfx = decode(data)
    salt = os.urandom(salt_length)
    size = hashlib.new(mac).digest_size
    key_length = size - 1 if flaw == "short-key" else size
    stated_salt = os.urandom(max(salt_length, 1)) if flaw == "salt" else salt
    stated_iterations = iterations + 1 if flaw == "iterations" else iterations
    fields = [Node(OCTETS, stated_salt), make_int(stated_iterations)]
    if flaw != "no-key-length":
        fields.append(make_int(key_length))
    fields.append(Node(SEQUENCE, [make_oid(HMAC_OIDS[prf]), Node(NULL, b"")]))
    params = Node(SEQUENCE, [
        Node(SEQUENCE, [make_oid(PBKDF2), Node(SEQUENCE, fields)]),
        Node(SEQUENCE, [make_oid(HMAC_OIDS[mac]), Node(NULL, b"")]),
    ])
    key = hashlib.pbkdf2_hmac(prf, password.encode(), salt, iterations, max(key_length, 1))
    value = hmac.new(key, authenticated_safe(pfx).octets(), mac).digest()
    if flaw == "truncated":
        value = value[:-4]
    elif flaw == "forged":
        value = bytes([value[0] ^ 1]) + value[1:]
    mac_salt = b"NOT USED" if not_used else stated_salt
    mac_iterations = 1 if not_used else stated_iterations
    mac_data_node = Node(SEQUENCE, [
        Node(SEQUENCE, [Node(SEQUENCE, [make_oid(PBMAC1), params]), Node(OCTETS, value)]),
        Node(OCTETS, mac_salt),
    ] + ([make_int(mac_iterations)] if mac_iterations != 1 or not_used else []))
    return encode(Node(SEQUENCE, pfx.value[:2] + [mac_data_node]))


def as_ber(data, deep):
    """The file in BER: indefinite lengths, long OCTET STRINGs in pieces. With `deep` also the
    authenticated safe and the parts in clear inside it, which changes the octets a MAC covers;
    only for files without one."""
    pfx = decode(data)
    if deep:
        safe = decode(authenticated_safe(pfx).octets())
        for info in safe.value:
            if oid(info.value[0]) == PKCS7_DATA:
                holder = info.value[1].value[0]
                info.value[1].value[0] = Node(OCTETS, encode_ber(decode(holder.octets()), 64))
        pfx.value[1].value[1].value[0] = Node(OCTETS, encode_ber(safe, 100))
    return encode_ber(pfx, 500)


SECRET_BAG = "1.2.840.113549.1.12.10.1.5"


def raw_children(data):
    """The elements inside the element `data`, each as its bytes in `data`."""
    node, _ = _read(data, 0, len(data))
    at = 2 if data[1] == 0x80 else 2 + (data[1] & 0x7F if data[1] & 0x80 else 0)
    children = []
    for _ in node.value:
        _, stop = _read(data, at, len(data))
        children.append(data[at:stop])
        at = stop
    return children


def raw_bags(data, password):
    """The bags of every part as their bytes: a list for each part, None for an encrypted one in
    an algorithm this cannot decrypt, False for one the password does not open."""
    pfx = decode(data)
    parts = []
    for info in decode(authenticated_safe(pfx).octets()).value:
        if oid(info.value[0]) == PKCS7_ENCRYPTED:
            encrypted = info.value[1].value[0].value[1]
            plain = decrypt(encrypted.value[1], encrypted.value[2].octets(), password)
        else:
            plain = info.value[1].value[0].octets()
        parts.append(raw_children(plain) if plain else plain)
    return parts


def holds_sealed_value(bag):
    """A shrouded key, or a secret bag holding one as Java keeps secret keys."""
    node = decode(bag)
    kind = oid(node.value[0])
    return kind == SHROUDED_KEY_BAG or (
        kind == SECRET_BAG and oid(node.value[1].value[0].value[0]) == SHROUDED_KEY_BAG)


def same_bags(before, old_pin, after, new_pin):
    """Problems, if any, with `after` keeping every bag of `before` byte for byte, but for the
    encrypted values it must encrypt anew, whose bags keep everything else."""
    first, second = raw_bags(before, old_pin), raw_bags(after, new_pin)
    if len(first) != len(second) or False in first + second:
        return ["the parts cannot be compared"]
    pairs = []
    for old_part, new_part in zip(first, second):
        if old_part is None or new_part is None:  # an algorithm this reader lacks
            continue
        if len(old_part) != len(new_part):
            return ["a part holds another number of bags"]
        pairs += zip(old_part, new_part)
    problems = []
    for i, (old, new) in enumerate(pairs):
        if old == new:
            continue
        old_parts, new_parts = raw_children(old), raw_children(new)
        # A key that was in clear is now shrouded: its attributes stay.
        shrouded = (oid(decode(old).value[0]) == KEY_BAG
                    and oid(decode(new).value[0]) == SHROUDED_KEY_BAG)
        kept = range(2, len(old_parts)) if shrouded else [n for n in range(len(old_parts)) if n != 1]
        if (not (shrouded or holds_sealed_value(old)) or len(old_parts) != len(new_parts)
                or any(old_parts[n] != new_parts[n] for n in kept)):
            problems.append("bag %d changed beyond its encrypted value" % i)
    return problems



def bag_lines(data, password):
    """Every bag in order: its type, its attributes as written and a digest of its certificate
    or decrypted key; None when a part or key does not decrypt."""
    lines = []
    for info in decode(authenticated_safe(decode(data)).octets()).value:
        if oid(info.value[0]) == PKCS7_ENCRYPTED:
            encrypted = info.value[1].value[0].value[1]
            plain = decrypt(encrypted.value[1], encrypted.value[2].octets(), password)
            if not plain:
                return None
        else:
            plain = info.value[1].value[0].octets()
        for bag in decode(plain).value:
            kind, value = oid(bag.value[0]), bag.value[1].value[0]
            content = encode(value)
            if kind == SHROUDED_KEY_BAG:
                content = decrypt(value.value[0], value.value[1].octets(), password)
                if not content:
                    return None
            attributes = encode(bag.value[2]).hex() if len(bag.value) > 2 else "-"
            lines.append("%s %s %s" % (kind, attributes, hashlib.sha256(content).hexdigest()))
    return lines


if __name__ == "__main__":
    # same-bags ORIGINAL OLD-PIN CHANGED NEW-PIN
    if len(sys.argv) != 6 or sys.argv[1] != "same-bags":
        sys.exit("usage: pfx_der.py same-bags ORIGINAL OLD-PIN CHANGED NEW-PIN")
    with open(sys.argv[2], "rb") as original, open(sys.argv[4], "rb") as changed:
        found = same_bags(original.read(), sys.argv[3], changed.read(), sys.argv[5])
    for problem in found:
        print(problem)
    sys.exit(1 if found else 0)
