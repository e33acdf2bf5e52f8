import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.Key;
import java.security.KeyFactory;
import java.security.KeyStore;
import java.security.PKCS12Attribute;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.SecureRandom;
import java.security.Security;
import java.security.cert.Certificate;
import java.security.cert.CertificateFactory;
import java.security.spec.PKCS8EncodedKeySpec;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HexFormat;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import javax.crypto.KeyGenerator;
import javax.crypto.SecretKey;
import javax.crypto.spec.IvParameterSpec;
import javax.crypto.spec.PBEParameterSpec;
import org.bouncycastle.asn1.pkcs.Pfx;
import org.bouncycastle.jcajce.PKCS12StoreParameter;
import org.bouncycastle.jce.provider.BouncyCastleProvider;

/**
 * PKCS#12 stores written by the JDK's KeyStore and by BouncyCastle, and what each gives back.
 *
 * <pre>
 * make DIR PASSWORD     writes NAME.p12 and NAME.p12.manifest into DIR for every store, from
 *                       the keys and certificates the calling script put there (rsa.pk8,
 *                       rsa.pem, ec.pk8, ec.pem, ca.pem, root.pem, other.pem); with
 *                       -Dkeystore.pkcs12.legacy only the stores of the JDK's legacy settings
 * check FILE PASSWORD MANIFEST [PROVIDER/TYPE]
 *                       the store opens with PASSWORD and gives back exactly what MANIFEST lists
 * refuses FILE PASSWORD [PROVIDER/TYPE]
 *                       nothing secret comes out with PASSWORD: the store does not open, or it
 *                       has no MAC and none of its keys opens
 * </pre>
 *
 * Commands may follow each other, split by "--", since a JVM is slow to start. Every problem is
 * printed as "FILE: what is wrong"; the status is 0 when there is none, 1 when there is, 2 for
 * a wrong command and 3 when the run broke off (nothing made, or not all checked). PROVIDER/TYPE is
 * JDK/PKCS12 or BC/TYPE, by default the one the manifest names (check) or JDK/PKCS12 (refuses).
 * Manifest lines, sorted: "store PROVIDER/TYPE", "private ALIAS ALGORITHM HEX", "chain ALIAS N
 * HEX", "secret ALIAS ALGORITHM HEX", "trusted ALIAS HEX", "attribute ALIAS OID VALUE".
 */
public final class KeyStores {
    /** Attributes of our own, under the arc reserved for examples, that must survive a change. */
    private static final String OWN_ATTRIBUTE = "2.999.1";

    private static final HexFormat HEX = HexFormat.of();
    private static final SecureRandom RANDOM = new SecureRandom();
    private static final Provider BC = new BouncyCastleProvider();

    private final Path dir;
    private final char[] password;
    private final PrivateKey rsaKey;
    private final PrivateKey ecKey;
    private final Certificate[] rsaChain;
    private final Certificate[] ecChain;
    private final Certificate root;
    private final Certificate other;

    private KeyStores(Path dir, char[] password) throws Exception {
        this.dir = dir;
        this.password = password;
        CertificateFactory x509 = CertificateFactory.getInstance("X.509");
        Certificate ca = readCertificate(x509, "ca.pem");
        root = readCertificate(x509, "root.pem");
        other = readCertificate(x509, "other.pem");
        rsaKey = readKey("RSA", "rsa.pk8");
        ecKey = readKey("EC", "ec.pk8");
        rsaChain = new Certificate[] {readCertificate(x509, "rsa.pem"), ca, root};
        ecChain = new Certificate[] {readCertificate(x509, "ec.pem"), root};
    }

    public static void main(String[] args) {
        int status = 0;
        List<String> command = new ArrayList<>();
        try {
            for (int i = 0; i <= args.length; i++) {
                if (i < args.length && !args[i].equals("--")) {
                    command.add(args[i]);
                } else if (!command.isEmpty()) {
                    status = Math.max(status, run(command));
                    command.clear();
                }
            }
        } catch (Throwable e) {
            // Not a problem of one file: the commands after this one did not run.
            e.printStackTrace();
            status = 3;
        }
        System.exit(status);
    }

    private static int run(List<String> args) throws Exception {
        int n = args.size();
        String mode = args.get(0);
        if (mode.equals("make") && n == 3) {
            new KeyStores(Path.of(args.get(1)), args.get(2).toCharArray()).make();
            return 0;
        }
        List<String> problems = new ArrayList<>();
        try {
            if (mode.equals("check") && (n == 4 || n == 5)) {
                check(Path.of(args.get(1)), args.get(2), Path.of(args.get(3)),
                        n == 5 ? args.get(4) : null, problems);
            } else if (mode.equals("refuses") && (n == 3 || n == 4)) {
                refuses(Path.of(args.get(1)), args.get(2), n == 4 ? args.get(3) : "JDK/PKCS12",
                        problems);
            } else {
                System.err.println("usage: KeyStores COMMAND [-- COMMAND]..., a COMMAND being"
                        + " make DIR PASSWORD | check FILE PASSWORD MANIFEST [PROVIDER/TYPE]"
                        + " | refuses FILE PASSWORD [PROVIDER/TYPE]");
                return 2;
            }
        } catch (Exception e) {
            problems.add("cannot " + mode + " it: " + e);
        }
        for (String problem : problems) {
            System.out.println(args.get(1) + ": " + problem);
        }
        return problems.isEmpty() ? 0 : 1;
    }

    // ---- make ----

    private void make() throws Exception {
        if (System.getProperty("keystore.pkcs12.legacy") != null) {
            // SHA-1 PBE with triple DES for keys, RC2-40 for certificates, an HMAC-SHA1 MAC.
            Store keys = jdk("jdk-legacy-keys");
            addKeyPairs(keys, protection());
            addTrusted(keys);
            keys.write();
            Store secrets = jdk("jdk-legacy-secrets");
            addSecrets(secrets, protection());
            secrets.write();
            return;
        }

        // Today's defaults: PBES2 with AES-256 and HMAC-SHA256 for keys and certificates.
        Store keys = jdk("jdk-keys");
        addKeyPairs(keys, protection());
        keys.write();
        Store trusted = jdk("jdk-trusted");
        addTrusted(trusted);
        trusted.write();
        Store secrets = jdk("jdk-secrets");
        addSecrets(secrets, protection());
        secrets.write();

        // Everything in one store, each kind of entry with an attribute of our own besides, and
        // an alias beyond ASCII.
        Store mixed = jdk("jdk-mixed");
        mixed.put("schl\u00fcssel-rsa",
                new KeyStore.PrivateKeyEntry(rsaKey, rsaChain, own("Schl\u00fcssel")),
                protection());
        mixed.put("ec", new KeyStore.PrivateKeyEntry(ecKey, ecChain), protection());
        mixed.put("wurzel", new KeyStore.TrustedCertificateEntry(root, own("Wurzel")), null);
        mixed.put("fremd", new KeyStore.TrustedCertificateEntry(other), null);
        mixed.put("aes", new KeyStore.SecretKeyEntry(secretKey("AES", 256), own("Geheim")),
                protection());
        mixed.put("hmac", new KeyStore.SecretKeyEntry(secretKey("HmacSHA256", 256)),
                protection());
        mixed.write();

        // Each key under an algorithm of its own choice, given with its salt and iterations.
        String[] algorithms = {
            "PBEWithHmacSHA256AndAES_256", "PBEWithHmacSHA512AndAES_128", "PBEWithSHA1AndDESede",
            "PBEWithSHA1AndRC2_40", "PBEWithSHA1AndRC2_128", "PBEWithSHA1AndRC4_128",
        };
        Store entrySecrets = jdk("jdk-entry-secrets");
        for (String algorithm : algorithms) {
            Store store = jdk("jdk-entry-" + algorithm);
            addKeyPairs(store, protection(algorithm));
            store.write();
            entrySecrets.put(algorithm.toLowerCase(),
                    new KeyStore.SecretKeyEntry(secretKey("AES", 128)), protection(algorithm));
        }
        entrySecrets.write();

        // Without encryption of the certificates, without a MAC, and without both.
        Security.setProperty("keystore.pkcs12.certProtectionAlgorithm", "NONE");
        Store clearCertificates = jdk("jdk-certs-in-clear");
        addKeyPairs(clearCertificates, protection());
        addTrusted(clearCertificates);
        clearCertificates.write();
        Security.setProperty("keystore.pkcs12.macAlgorithm", "NONE");
        Store bare = jdk("jdk-certs-in-clear-no-mac");
        addKeyPairs(bare, protection());
        addTrusted(bare);
        addSecrets(bare, protection());
        bare.write();
        Security.setProperty("keystore.pkcs12.certProtectionAlgorithm", "");
        Store noMac = jdk("jdk-no-mac");
        addKeyPairs(noMac, protection());
        addTrusted(noMac);
        noMac.write();
        Store noMacSecrets = jdk("jdk-no-mac-secrets");
        addSecrets(noMacSecrets, protection());
        noMacSecrets.write();
        Security.setProperty("keystore.pkcs12.macAlgorithm", "");

        // A JKS store, with the manifest of the PKCS#12 store the calling script turns it into
        // with keytool.
        Store jks = new Store("jdk-from-jks", "JDK/PKCS12", KeyStore.getInstance("JKS"));
        addKeyPairs(jks, protection());
        addTrusted(jks);
        jks.write(".jks");

        // BouncyCastle's stores (it keeps no secret keys in PKCS#12): its own crypto and the
        // JDK's (-DEF), with RC2-40 or triple DES for the certificates; in its default BER
        // encoding, and once in DER.
        for (String type : new String[] {
                 "PKCS12", "PKCS12-DEF", "PKCS12-3DES-3DES", "PKCS12-DEF-3DES-3DES"}) {
            Store store = bc("bc-" + type, type);
            addKeyPairs(store, protection());
            addTrusted(store);
            store.write();
        }
        Store der = bc("bc-PKCS12-DER", "PKCS12");
        addKeyPairs(der, protection());
        addTrusted(der);
        der.writeDer();
    }

    private void addKeyPairs(Store store, KeyStore.PasswordProtection protection)
            throws Exception {
        store.put("rsa", new KeyStore.PrivateKeyEntry(store.ownKey(rsaKey), rsaChain),
                protection);
        store.put("ec", new KeyStore.PrivateKeyEntry(store.ownKey(ecKey), ecChain), protection);
    }

    private void addTrusted(Store store) throws Exception {
        store.put("wurzel", new KeyStore.TrustedCertificateEntry(root), null);
        store.put("fremd", new KeyStore.TrustedCertificateEntry(other), null);
    }

    private void addSecrets(Store store, KeyStore.PasswordProtection protection)
            throws Exception {
        store.put("aes-128", new KeyStore.SecretKeyEntry(secretKey("AES", 128)), protection);
        store.put("aes-256", new KeyStore.SecretKeyEntry(secretKey("AES", 256)), protection);
        store.put("hmac-sha256", new KeyStore.SecretKeyEntry(secretKey("HmacSHA256", 256)),
                protection);
        store.put("desede", new KeyStore.SecretKeyEntry(secretKey("DESede", 168)), protection);
    }

    private KeyStore.PasswordProtection protection() {
        return new KeyStore.PasswordProtection(password);
    }

    /** ALGORITHM with a salt of its own and a moderate count, so that the test stays quick. */
    private KeyStore.PasswordProtection protection(String algorithm) {
        byte[] salt = new byte[16];
        RANDOM.nextBytes(salt);
        PBEParameterSpec params;
        if (algorithm.startsWith("PBEWithHmac")) {
            byte[] iv = new byte[16];
            RANDOM.nextBytes(iv);
            params = new PBEParameterSpec(salt, 2048, new IvParameterSpec(iv));
        } else {
            params = new PBEParameterSpec(salt, 2048);
        }
        return new KeyStore.PasswordProtection(password, algorithm, params);
    }

    private static Set<KeyStore.Entry.Attribute> own(String value) {
        return Set.of(new PKCS12Attribute(OWN_ATTRIBUTE, value));
    }

    private static SecretKey secretKey(String algorithm, int bits) throws Exception {
        KeyGenerator generator = KeyGenerator.getInstance(algorithm);
        generator.init(bits);
        return generator.generateKey();
    }

    private Certificate readCertificate(CertificateFactory x509, String name) throws Exception {
        try (InputStream in = Files.newInputStream(dir.resolve(name))) {
            return x509.generateCertificate(in);
        }
    }

    private PrivateKey readKey(String algorithm, String name) throws Exception {
        byte[] encoded = Files.readAllBytes(dir.resolve(name));
        return KeyFactory.getInstance(algorithm).generatePrivate(new PKCS8EncodedKeySpec(encoded));
    }

    private Store jdk(String name) throws Exception {
        return new Store(name, "JDK/PKCS12", open("JDK/PKCS12"));
    }

    private Store bc(String name, String type) throws Exception {
        return new Store(name, "BC/" + type, open("BC/" + type));
    }

    /** A store being made, and the manifest of what went into it. */
    private final class Store {
        final String name;
        final String type;
        final KeyStore keyStore;
        final List<String> manifest = new ArrayList<>();

        Store(String name, String type, KeyStore keyStore) throws Exception {
            this.name = name;
            this.type = type;
            this.keyStore = keyStore;
            keyStore.load(null, null);
            manifest.add("store " + type);
        }

        /** The key as the store gives it back: BouncyCastle encodes keys its own way (an EC key
         *  with its curve inside). */
        PrivateKey ownKey(PrivateKey key) throws Exception {
            if (!type.startsWith("BC/")) {
                return key;
            }
            return KeyFactory.getInstance(key.getAlgorithm(), BC)
                    .generatePrivate(new PKCS8EncodedKeySpec(key.getEncoded()));
        }

        void put(String alias, KeyStore.Entry entry, KeyStore.ProtectionParameter protection)
                throws Exception {
            keyStore.setEntry(alias, entry, protection);
            describe(alias, entry, manifest);
        }

        void write() throws Exception {
            write(".p12");
        }

        void write(String suffix) throws Exception {
            Path file = dir.resolve(name + suffix);
            try (OutputStream out = new FileOutputStream(file.toFile())) {
                keyStore.store(out, password);
            }
            writeManifest();
        }

        /** In DER, where BouncyCastle otherwise writes BER. */
        void writeDer() throws Exception {
            try (OutputStream out = new FileOutputStream(dir.resolve(name + ".p12").toFile())) {
                keyStore.store(new PKCS12StoreParameter(out, password, true));
            }
            writeManifest();
        }

        private void writeManifest() throws IOException {
            Collections.sort(manifest);
            Files.write(dir.resolve(name + ".p12.manifest"), manifest, StandardCharsets.UTF_8);
        }
    }

    // ---- check and refuses ----

    private static KeyStore open(String type) throws Exception {
        if (type.equals("JDK/PKCS12")) {
            return KeyStore.getInstance("PKCS12");
        }
        if (type.startsWith("BC/")) {
            return KeyStore.getInstance(type.substring(3), BC);
        }
        throw new IllegalArgumentException("unknown store type " + type);
    }

    private static KeyStore load(Path file, char[] password, String type) throws Exception {
        KeyStore keyStore = open(type);
        try (InputStream in = new FileInputStream(file.toFile())) {
            keyStore.load(in, password);
        }
        return keyStore;
    }

    private static void check(Path file, String pin, Path manifestFile, String type,
            List<String> problems) throws Exception {
        List<String> manifest = Files.readAllLines(manifestFile, StandardCharsets.UTF_8);
        if (type == null) {
            type = manifest.stream().filter(line -> line.startsWith("store "))
                    .map(line -> line.substring("store ".length())).findFirst().orElseThrow();
        }
        char[] password = pin.toCharArray();
        KeyStore keyStore;
        try {
            keyStore = load(file, password, type);
        } catch (Exception e) {
            problems.add("does not open with " + pin + ": " + e);
            return;
        }
        List<String> found = new ArrayList<>();
        found.add("store " + type);
        for (String alias : Collections.list(keyStore.aliases())) {
            KeyStore.ProtectionParameter protection = keyStore.isCertificateEntry(alias)
                    ? null : new KeyStore.PasswordProtection(password);
            try {
                describe(alias, keyStore.getEntry(alias, protection), found);
            } catch (Exception e) {
                problems.add("the entry " + alias + " does not open with " + pin + ": " + e);
            }
        }
        Set<String> expected = new TreeSet<>(manifest);
        Set<String> got = new TreeSet<>(found);
        for (String line : expected) {
            if (!got.contains(line)) {
                problems.add("missing: " + shorten(line));
            }
        }
        for (String line : got) {
            if (!expected.contains(line)) {
                problems.add("not in the manifest: " + shorten(line));
            }
        }
    }

    private static void refuses(Path file, String pin, String type, List<String> problems)
            throws Exception {
        char[] password = pin.toCharArray();
        KeyStore keyStore;
        try {
            keyStore = load(file, password, type);
        } catch (Exception e) {
            return; // the MAC, or a part encrypted under the other PIN
        }
        if (hasMac(file)) {
            problems.add("its MAC holds with " + pin);
        }
        // Without a MAC a store opens with any password; its keys must not.
        for (String alias : Collections.list(keyStore.aliases())) {
            if (!keyStore.isKeyEntry(alias)) {
                continue;
            }
            try {
                if (keyStore.getKey(alias, password) != null) {
                    problems.add("the key " + alias + " still opens with " + pin);
                }
            } catch (Exception e) {
                // locked, as it should be
            }
        }
    }

    /** Whether the file has a MAC over its contents. */
    private static boolean hasMac(Path file) throws IOException {
        return Pfx.getInstance(Files.readAllBytes(file)).getMacData() != null;
    }

    /** Manifest lines for one entry. */
    private static void describe(String alias, KeyStore.Entry entry, List<String> lines)
            throws Exception {
        if (entry instanceof KeyStore.PrivateKeyEntry) {
            KeyStore.PrivateKeyEntry keyEntry = (KeyStore.PrivateKeyEntry) entry;
            PrivateKey key = keyEntry.getPrivateKey();
            lines.add("private " + alias + " " + key.getAlgorithm() + " " + hex(key.getEncoded()));
            Certificate[] chain = keyEntry.getCertificateChain();
            for (int i = 0; i < chain.length; i++) {
                lines.add("chain " + alias + " " + i + " " + hex(chain[i].getEncoded()));
            }
        } else if (entry instanceof KeyStore.SecretKeyEntry) {
            Key key = ((KeyStore.SecretKeyEntry) entry).getSecretKey();
            lines.add("secret " + alias + " " + key.getAlgorithm() + " " + hex(key.getEncoded()));
        } else if (entry instanceof KeyStore.TrustedCertificateEntry) {
            KeyStore.TrustedCertificateEntry trusted = (KeyStore.TrustedCertificateEntry) entry;
            lines.add("trusted " + alias + " " + hex(trusted.getTrustedCertificate().getEncoded()));
        } else {
            lines.add("unknown " + alias + " " + entry.getClass().getName());
        }
        for (KeyStore.Entry.Attribute attribute : entry.getAttributes()) {
            if (attribute.getName().equals(OWN_ATTRIBUTE)) {
                lines.add("attribute " + alias + " " + attribute.getName() + " "
                        + attribute.getValue());
            }
        }
    }

    private static String hex(byte[] bytes) {
        return HEX.formatHex(bytes);
    }

    private static String shorten(String line) {
        return line.length() > 100 ? line.substring(0, 100) + "..." : line;
    }
}
