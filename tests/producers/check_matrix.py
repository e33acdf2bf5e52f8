"""Makes PKCS#12 files in the combinations OpenSSL's API writes (a sample of the product that
covers every value of every axis), changes the PIN of each with the tool, and lets every reader
here that opened the original read the result: it must open it with the new PIN, refuse the old
one, list the same contents and report the same protection (an empty salt comes back as 8
bytes, a key in clear comes back encrypted). Files with a broken PBMAC1 MAC must be refused and
stay as they were. Prints a table. Usage: check_matrix.py CHANGE-PIN-CLI MAKE-PFX-MATRIX"""

import concurrent.futures
import hashlib
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pfx_der  # noqa: E402

CHANGE, GENERATE = sys.argv[1], sys.argv[2]
PINS = {"ascii": ("Matrix-2026", "Neue-PIN-2027"), "utf8": ("Grüße€", "Schlüssel€ 2"),
        "old": ("Grüße€", "Schlüssel€ 2")}
KEYS = ["rsa", "rsa-pss", "dsa", "ec", "ed25519"]
ENV = dict(os.environ, LC_ALL="C.UTF-8")

PBES1 = ["PBE-SHA1-RC4-128", "PBE-SHA1-RC4-40", "PBE-SHA1-3DES", "PBE-SHA1-2DES",
         "PBE-SHA1-RC2-128", "PBE-SHA1-RC2-40", "PBE-MD5-DES", "PBE-SHA1-DES", "PBE-MD5-RC2-64",
         "PBE-SHA1-RC2-64"]
# Every identifier OpenSSL 3 writes for a PBES2 cipher (the CFB1 and CFB8 modes it writes as
# CFB, the triple-DES CFB mode as DES-CFB), except the AES key-wrap ones, which its
# encryption functions refuse outside the openssl command.
CIPHERS = (["aes-%d-%s" % (bits, mode) for bits in (128, 192, 256)
            for mode in ("cbc", "ecb", "ofb", "cfb")] +
           ["camellia-%d-%s" % (bits, mode) for bits in (128, 192, 256)
            for mode in ("cbc", "ecb", "ofb", "cfb", "ctr")] +
           ["aria-%d-%s" % (bits, mode) for bits in (128, 192, 256)
            for mode in ("cbc", "ecb", "ofb", "cfb", "ctr")] +
           ["sm4-%s" % mode for mode in ("cbc", "ecb", "ofb", "cfb", "ctr")] +
           ["seed-%s" % mode for mode in ("cbc", "ecb", "ofb", "cfb")] +
           ["des-cbc", "des-ecb", "des-ofb", "des-cfb", "des-ede3-cbc", "des-ede", "rc2-cbc",
            "rc2-40-cbc", "rc2-64-cbc", "bf-cbc", "cast5-cbc", "rc4"])
PRFS = ["hmacWithSHA1", "hmacWithSHA224", "hmacWithSHA256", "hmacWithSHA384", "hmacWithSHA512",
        "hmacWithSHA512-224", "hmacWithSHA512-256", "hmacWithMD5"]
SHA3_PRFS = ["id-hmacWithSHA3-224", "id-hmacWithSHA3-256", "id-hmacWithSHA3-384",
             "id-hmacWithSHA3-512"]
MACS = ["md4", "md5", "sha1", "sha224", "sha256", "sha384", "sha512", "sha512-224", "sha512-256",
        "sha3-224", "sha3-256", "sha3-384", "sha3-512", "sm3", "blake2b512", "blake2s256",
        "ripemd160", "whirlpool", "none"]
PBMAC1 = [("sha256", "sha256"), ("sha512", "sha512"), ("sha512", "sha256"), ("sha1", "sha384"),
          ("sha3_256", "sha3_256"), ("sha3_512", "sha224")]
CHECKER_CIPHERS = ["aes-128-cbc", "aes-192-cbc", "aes-256-cbc", "des-ede3-cbc", "camellia-256-cbc",
                   "aria-128-cbc", "sm4-cbc"]
CHECKER_PRFS = PRFS[:7] + SHA3_PRFS
CHECKER_MACS = MACS[1:13]
FLAWS = ["no-key-length", "short-key", "iterations", "salt", "truncated", "forged"]
# Sound, with the MAC data's own salt and count "NOT USED" and 1, as in RFC 9579's examples.
NOT_USED = "not-used"


def combinations():
    """(name, generator fields, PBMAC1 (prf, hmac, flaw) or None, BER: None, 'outer', 'deep')."""
    rows = []

    def add(tag, pbmac1=None, ber=None, **fields):
        n = len(rows)
        combo = {"key": KEYS[n % len(KEYS)], "pass": ["utf8", "ascii", "old"][n % 3],
                "certs": "pbes2/aes-256-cbc/hmacWithSHA256",
                "keys": "pbes2/aes-256-cbc/hmacWithSHA256", "mac": "sha256", "salt": 8,
                "iter": 2048}
        combo.update(fields)
        uses_pkcs12_kdf = combo["mac"] != "none" or any(
            combo[p].startswith("PBE-SHA1") for p in ("certs", "keys"))
        # The older encoding only ever touched the PKCS#12 derivations; its files are read by
        # openssl where every part uses them, by the checker where it decrypts every part.
        parts = [combo[p] for p in ("certs", "keys") if combo[p] != "none"]
        pkcs12_parts = all(p.startswith("PBE-SHA1") for p in parts)
        checker_parts = all(p.startswith("pbes2/") and p.split("/")[1] in CHECKER_CIPHERS and
                            p.split("/")[2] in CHECKER_PRFS for p in parts)
        if combo["pass"] == "old" and (pbmac1 or not uses_pkcs12_kdf or combo["mac"] not in
                                      CHECKER_MACS or not (pkcs12_parts or checker_parts)):
            combo["pass"] = "utf8"
        rows.append(("%03d-%s.p12" % (n, tag), combo, pbmac1, ber))

    for scheme in PBES1:
        add("pbes1-" + scheme, certs=scheme, keys=scheme, mac="sha1")
    for i, cipher in enumerate(CIPHERS):
        add("pbes2-" + cipher, certs="pbes2/%s/%s" % (cipher, PRFS[i % len(PRFS)]),
            keys="pbes2/%s/%s" % (cipher, PRFS[(i + 3) % len(PRFS)]))
    for prf in PRFS:
        add("prf-" + prf, certs="pbes2/aes-128-cbc/" + prf, keys="pbes2/des-ede3-cbc/" + prf)
    for i, prf in enumerate(SHA3_PRFS):
        cipher = ["aes-256-cbc", "camellia-256-cbc", "aria-128-cbc", "sm4-cbc"][i]
        add("prf-" + prf, certs="pbes2/%s/%s" % (cipher, prf), keys="pbes2/aes-192-cbc/" + prf)
    for mac in MACS:
        add("mac-" + mac, mac=mac)
    for prf, mac in PBMAC1:
        add("pbmac1-%s-%s" % (prf, mac), pbmac1=(prf, mac, None), mac="none")
    for flaw in FLAWS:
        add("pbmac1-" + flaw, pbmac1=("sha256", "sha256", flaw), mac="none")
    add("pbmac1-" + NOT_USED, pbmac1=("sha512", "sha256", NOT_USED), mac="none")
    for salt in (0, 16, 64):
        add("salt%d-pbes2" % salt, salt=salt)
        add("salt%d-pbes1" % salt, salt=salt, certs="PBE-SHA1-RC2-40", keys="PBE-SHA1-3DES",
            mac="sha1")
    add("salt0-pbmac1", pbmac1=("sha256", "sha256", None), mac="none", salt=0)
    add("iter1-pbes2", iter=1)
    add("iter1-pbes1", iter=1, certs="PBE-SHA1-RC2-40", keys="PBE-SHA1-3DES", mac="sha1")
    add("iter1000000", iter=1000000, pass_="utf8")
    for key in KEYS:
        add("key-" + key, key=key, pass_="ascii")
    add("clear-certs", certs="none")
    add("clear-keys", keys="none")
    add("clear-both", certs="none", keys="none")
    add("clear-both-nomac", certs="none", keys="none", mac="none")
    add("clear-keys-legacy", keys="none", certs="PBE-SHA1-RC2-40", mac="sha1")
    add("ber-modern", ber="outer")
    add("ber-legacy", ber="outer", certs="PBE-SHA1-RC2-40", keys="PBE-SHA1-3DES", mac="sha1")
    add("ber-nomac", ber="deep", mac="none")
    add("ber-pbmac1", ber="outer", pbmac1=("sha256", "sha256", None), mac="none")
    add("ber-sha3", ber="deep", mac="none", keys="pbes2/aes-256-cbc/id-hmacWithSHA3-256")
    for row in rows:  # "pass_" forces a password where the rotation would give another
        if "pass_" in row[1]:
            row[1]["pass"] = row[1].pop("pass_")
    return rows


def run(command, stdin=None):
    done = subprocess.run(command, input=stdin, capture_output=True, env=ENV)
    return done.returncode, done.stdout.decode("utf-8", "replace") + done.stderr.decode(
        "utf-8", "replace")


# ---- readers: each returns (opened, contents, protection) ----------------------------------

def openssl(path, pin, work):
    status, out = run(["openssl", "pkcs12", "-legacy", "-info", "-nodes", "-in", path,
                       "-passin", "pass:" + pin])
    protection = [line for line in out.splitlines()
                  if re.match(r"(MAC|PKCS7 Encrypted|Shrouded Keybag|Key bag|Warning: MAC)", line)]
    contents = [line for line in out.splitlines() if line not in protection
                and line != "Warning: using broken algorithm"]
    return status == 0, contents, protection


def certtool(path, pin, work):
    status, out = run(["certtool", "--p12-info", "--inder", "--infile", path, "--password", pin])
    contents, protection, block = [], [], None
    for line in out.splitlines():
        if line.startswith("-----BEGIN"):
            block = [line]
            continue
        if block is not None:
            block.append(line)
            if line.startswith("-----END"):
                contents.append(pem_digest(block, pin, work))
                block = None
            continue
        stripped = line.strip()
        if re.match(r"(Salt:|verify_mac|There were errors)", stripped):
            continue
        if re.match(r"(MAC|Cipher|Schema|Salt size|Iteration count|Type: PKCS #8|PKCS #8 inf)",
                    stripped):
            protection.append(stripped)
        else:
            contents.append(stripped)
    return status == 0, contents, protection


def pem_digest(block, pin, work):
    """A certificate as it is; a key, encrypted or not, as certtool decrypts it."""
    text = "\n".join(block) + "\n"
    if "PRIVATE KEY" not in block[0]:
        return text
    pem = os.path.join(work, "key.pem")
    with open(pem, "w") as out:
        out.write(text)
    options = ["--pkcs8", "--password", pin] if "ENCRYPTED" in block[0] else []
    status, out = run(["certtool", "-k", "--infile", pem] + options)
    # Its account of the key's values, without how it was encrypted and without the PEM it
    # writes again (in a fresh encryption for some key types).
    values = [line for line in out.split("-----BEGIN")[0].splitlines() if not re.match(
        r"\s*(PKCS #8 information|Cipher|Schema|Salt|Iteration count|Encrypted structure)", line)]
    return "key %s %s" % (status, hashlib.sha256("\n".join(values).encode()).hexdigest()[:16])


def nss(path, pin, work):
    db = tempfile.mkdtemp(dir=work)
    run(["certutil", "-N", "-d", "sql:" + db, "--empty-password"])
    status, _ = run(["pk12util", "-i", path, "-d", "sql:" + db, "-W", pin, "-K", ""])
    _, certs = run(["certutil", "-L", "-d", "sql:" + db])
    _, keys = run(["certutil", "-K", "-d", "sql:" + db])
    _, listing = run(["pk12util", "-l", path, "-W", pin])
    lines = (certs + keys + listing).splitlines()
    protection = [line.strip() for line in lines if re.search(r"Encryption algorithm|Iteration", line)]
    contents = [line for line in lines if line.strip() not in protection and not re.match(
        r"^\s*([0-9a-f]{2}:)*[0-9a-f]{2}:?\s*$|.*Salt:|\s*\(empty\)$", line)]
    return status == 0, contents, protection


def keytool(path, pin, work):
    pinfile = os.path.join(work, "pin")
    with open(pinfile, "w") as out:
        out.write(pin)
    status, out = run(["keytool", "-list", "-v", "-keystore", path, "-storetype", "PKCS12",
                       "-storepass:file", pinfile])
    return status == 0, [line for line in out.splitlines() if "Creation date" not in line], []


def checker(path, pin, work, older=False):
    with open(path, "rb") as source:
        data = source.read()
    try:
        opened, protection, contents = pfx_der.describe(data, pin, older)
    except (ValueError, IndexError):  # structures it does not know
        return False, [], []
    return opened, contents, protection


READERS = [("openssl", openssl), ("certtool", certtool), ("nss", nss), ("keytool", keytool),
           ("checker", checker)]


def expected_protection(lines, had_clear_key, empty_salts=True):
    """What a reader should report of the protection after a change: the same, with empty salts
    at 8 bytes; the rows of a key in clear are not compared (it comes back encrypted, which
    the checker's own description verifies). certtool reports PKCS#5 v1 salts as empty, so
    the rule holds only where the file's salts were."""
    out = []
    for line in lines if empty_salts else []:
        line = re.sub(r"salt length: 0\b", "salt length: 8", line)
        line = re.sub(r"Salt size: 0\b", "Salt size: 8", line)
        line = line.replace("octets(0)", "octets(8)").replace("salt 0 ", "salt 8 ")
        out.append(line)
    return None if had_clear_key else out if empty_salts else lines


def clear_key_expectation(before, after, iterations):
    """The checker's account after a change of a file with a key in clear."""
    shrouded = ("key 30(PBES2 30(30(PBKDF2 30(octets(8) %s 30(hmac-sha256 05:))) "
                "30(aes-256-cbc octets(16))))" % pfx_der.masked(pfx_der.make_int(iterations)))
    wanted = [shrouded if line == "key in clear" else line for line in before]
    wanted = expected_protection(wanted, False)
    if wanted[0] == "no mac" and not any(line.startswith(("key 30", "part 30")) for line in before):
        wanted[0] = "mac 30(sha256 05:) salt 8 iterations %d" % iterations
    return wanted == after


def check(row, files, work):
    name, combo, pbmac1, ber = row
    path = os.path.join(files, name)
    old, new = PINS[combo["pass"]]
    with open(path, "rb") as source:
        original = source.read()
    results = {}
    before = {}
    for reader, read in READERS:
        if reader == "keytool" and combo["pass"] != "ascii":
            results[reader] = " "
            continue
        if reader == "checker" and combo["pass"] == "old":
            before[reader] = checker(path, old, work, older=True)
        else:
            before[reader] = read(path, old, work)
        results[reader] = "-" if not before[reader][0] else "?"
    status, message = run([CHANGE, path, old, new])
    with open(path, "rb") as source:
        now = source.read()
    if pbmac1 and pbmac1[2] in FLAWS:
        refused = status != 0 and "alten PIN nicht verarbeitet" in message and now == original
        results["identifiers"] = " "
        return name, combo, pbmac1, ber, "refused" if refused else "FAIL", results, []
    if status != 0:
        results["identifiers"] = " "
        return name, combo, pbmac1, ber, "FAIL", results, [message.strip()]
    problems = []
    had_clear_key = combo["keys"] == "none"
    for reader, read in READERS:
        if results[reader] != "?":
            continue
        opened, contents, protection = read(path, new, work)
        was_opened, was_contents, was_protection = before[reader]
        why = []
        if not opened:
            why.append("does not open it with the new PIN")
        elif read(path, old, work)[0]:
            why.append("still opens it with the old PIN")
        elif had_clear_key and reader not in ("openssl", "checker"):
            pass  # it now sees an encrypted key where there was one in clear; the two above compare
        elif contents != was_contents:
            why.append("lists other contents")
            if os.environ.get("MATRIX_VERBOSE"):
                import difflib
                problems += ["  " + line for line in difflib.unified_diff(
                    was_contents, contents, lineterm="", n=1)]
        elif reader == "checker" and had_clear_key:
            iterations = max(2048, combo["iter"])
            if not clear_key_expectation(was_protection, protection, iterations):
                why.append("reports other protection")
        elif expected_protection(was_protection, had_clear_key, combo["salt"] == 0) not in (
                None, protection):
            why.append("reports other protection")
        results[reader] = "ok" if not why else "FAIL"
        problems += ["%s %s" % (reader, w) for w in why]
        if why and os.environ.get("MATRIX_VERBOSE"):
            problems += ["  before: %r" % (was_protection,), "  after:  %r" % (protection,)]
    # Every algorithm identifier, whoever can decrypt the file: only salts and IVs may differ.
    with open(path, "rb") as source:
        layout_after = pfx_der.describe(source.read(), new)[1]
    layout_before = pfx_der.describe(original, old, combo["pass"] == "old")[1]
    same_layout = (clear_key_expectation(layout_before, layout_after, max(2048, combo["iter"]))
                   if had_clear_key else
                   expected_protection(layout_before, False, combo["salt"] == 0) == layout_after)
    results["identifiers"] = "ok" if same_layout else "FAIL"
    if not same_layout:
        problems.append("the algorithm identifiers differ: %r -> %r" % (layout_before,
                                                                          layout_after))
    if results["checker"] != "ok" and (pbmac1 or "SHA3-" in combo["certs"] + combo["keys"]):
        problems.append("the checker must verify every PBMAC1 and SHA-3 file")
    if "ok" not in results.values():
        problems.append("no reader read the original")
    verdict = "changed" if not problems else "FAIL"
    return name, combo, pbmac1, ber, verdict, results, problems


def main():
    with tempfile.TemporaryDirectory() as work:
        rows = combinations()
        lines = "".join("%s key=%s pass=%s old=%d certs=%s keys=%s mac=%s salt=%d iter=%d\n" % (
            name, combo["key"], PINS[combo["pass"]][0], combo["pass"] == "old", combo["certs"],
            combo["keys"], combo["mac"], combo["salt"], combo["iter"])
            for name, combo, _, _ in rows)
        status, out = run([GENERATE, work], lines.encode())
        if status != 0:
            print(out)
            return 1
        for name, combo, pbmac1, ber in rows:
            path = os.path.join(work, name)
            with open(path, "rb") as source:
                data = source.read()
            if pbmac1:
                prf, mac, flaw = pbmac1
                data = pfx_der.with_pbmac1(data, PINS[combo["pass"]][0], prf, mac, combo["iter"],
                                           combo["salt"], flaw if flaw in FLAWS else None,
                                           not_used=flaw == NOT_USED)
            if ber:
                data = pfx_der.as_ber(data, ber == "deep")
            with open(path, "wb") as out_file:
                out_file.write(data)

        def one(row):
            scratch = tempfile.mkdtemp(dir=work)
            return check(row, work, scratch)

        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            results = list(pool.map(one, rows))
    names = [reader for reader, _ in READERS] + ["identifiers"]
    print("%-36s %-7s %-4s %-6s %-52s %-5s %s" % ("file", "key", "pin", "salt", "protection",
                                                  "BER", " ".join("%-8s" % n for n in names)))
    failures = 0
    for name, combo, pbmac1, ber, verdict, readers, problems in results:
        protection = "%s | %s | %s" % (combo["certs"], combo["keys"], "pbmac1-%s-%s%s" % (
            pbmac1[0], pbmac1[1], "-" + pbmac1[2] if pbmac1[2] else "") if pbmac1 else combo["mac"])
        print("%-36s %-7s %-4s %-6s %-52s %-5s %s  %s" % (
            name[:36], combo["key"], combo["pass"][:4], "%d/%d" % (combo["salt"], combo["iter"])
            if combo["iter"] != 2048 else combo["salt"], protection[:52], ber or "-",
            " ".join("%-8s" % readers[n] for n in names), verdict))
        for problem in problems:
            print("    " + problem)
        failures += verdict == "FAIL"
    print("%d files, %d failed ('-': the reader did not open the original, "
          "blank: not a reader of that PIN)" % (len(results), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
