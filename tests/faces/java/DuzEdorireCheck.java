import com.velmora.tessaro.client.pcsc.common.DuzEdorire;

/**
 * Calls the natives of DuzEdorire on the JVM and checks results and fields.
 * Usage: DuzEdorireCheck CASE [arguments...]; exits 0 when every check held.
 * The launcher (java_face_rig_test.cpp) provides the reader, the card and the
 * server; it checks what the server received.
 */
public final class DuzEdorireCheck {
    private static final int[] NO_MASKS = new int[10];
    private static int failures = 0;

    private static void check(boolean condition, String what) {
        if (!condition) {
            failures++;
            System.err.println("FAILED: " + what);
        }
    }

    private static void checkEquals(Object expected, Object actual, String what) {
        check(expected == null ? actual == null : expected.equals(actual),
                what + ": expected <" + expected + "> but was <" + actual + ">");
    }

    private static String transactionXml(String id) {
        return "<eid_card><id_transaction>" + id + "</id_transaction></eid_card>";
    }

    private static void gethash(DuzEdorire face) {
        checkEquals("A9993E364706816ABA3E25717850C26C9CD0D89D", face.gethash(0, "abc", 0), "SHA-1 of abc");
        checkEquals("", face.gethash(7, "", 9), "SHA-1 of the empty text");
        // Digested over the UTF-8 bytes C3 A9.
        checkEquals("BF15BE717AC1B080B4F1C456692825891FF5073D", face.gethash(0, "\u00e9", 0), "SHA-1 of e-acute");
    }

    // args: server URL
    private static void noReaders(DuzEdorire face, String[] args) {
        face.authen_host = args[1];
        checkEquals(0, face.getIccList(), "getIccList result");
        checkEquals("no readers", face.str_getIccList, "reader list");
    }

    // args: reader, server URL, photo size
    private static void publicData(DuzEdorire face, String[] args) {
        String reader = args[1];
        face.authen_host = args[2];
        int photoSize = Integer.parseInt(args[3]);
        checkEquals(0, face.getIccList(), "getIccList result");
        check(face.str_getIccList != null && face.str_getIccList.contains(reader), "reader listed: " + face.str_getIccList);
        checkEquals(-1, face.openDevice(reader + " missing"), "handle of a reader that is not there");
        int handle = face.openDevice(reader);
        check(handle > 0, "handle " + handle);

        face.photo_size = -5;
        int rc = face.readEidPublicIdentify(handle, 0, 0x60000, 0, 2, 0x80000, 0, 0, 0, 0, 0, 0);
        checkEquals(0, rc, "readEidPublicIdentify");
        checkEquals(0, face.retval, "retval");
        checkEquals(transactionXml("TXIDENTIFY"), face.retval_xml, "identify transaction XML");
        check(face.str_ID_RN != null && face.str_ID_RN.contains("\nNAME=Peeters\n"), "identity text " + face.str_ID_RN);
        checkEquals("STREET_AND_NUMBER=Kerkstraat 12\nZIPCODE=9000\nMUNICIPALITY=Gent\n", face.str_ID_Address,
                "address text");
        checkEquals(photoSize, face.photo_size, "photo size");
        check(face.str_ascii_photo != null && face.str_ascii_photo.length() == 2 * photoSize
                && face.str_ascii_photo.startsWith("FFD8FFE0"), "photo hexadecimal text");

        rc = face.readEidPublic(handle, 0, 0x60000, 0, 0, 0x80000, 0, 0, 0, 0, 0, 0);
        checkEquals(0, rc, "readEidPublic");
        checkEquals(transactionXml("TXCAPTURE"), face.retval_xml, "capture transaction XML");

        rc = face.eidPubDataVerify(handle, 0, 0x60000, 0xD24, 0, 0x80000, 0x6124, 0, 0, 0, 0, 0);
        checkEquals(0, rc, "eidPubDataVerify");
        checkEquals(transactionXml("TXVERIFY"), face.retval_xml, "verify transaction XML");

        // The server gives no transaction identifier: 1, fields unchanged.
        face.retval = 77;
        rc = face.readEidPublic(handle, 0, 0x60000, 0, 0, 0, 0, 0, 0, 0, 0, 0);
        checkEquals(1, rc, "readEidPublic without identifier");
        checkEquals(77, face.retval, "retval after a transaction without identifier");
        checkEquals(transactionXml("TXVERIFY"), face.retval_xml, "retval_xml unchanged");

        checkEquals(0, face.destroyApplet(), "destroyApplet");
    }

    // args: reader, server URL, the code the verification must answer; the
    // card's files were changed after signing, or its chains do not reach
    // its root. The masks ask for the signatures, the photo and both chains.
    private static void changedCard(DuzEdorire face, String[] args) {
        int handle = open(face, args[1], args[2]);
        face.retval = 77;
        face.retval_xml = "before";
        int rc = face.eidPubDataVerify(handle, 0, 0x60000, 0xD24, 0, 0x80000, 0x6124, 0x6124, 0x6124, 0, 0, 0);
        checkEquals(Integer.parseInt(args[3]), rc, "eidPubDataVerify of a changed card");
        checkEquals(77, face.retval, "retval after a failed check");
        checkEquals("before", face.retval_xml, "retval_xml after a failed check");
    }

    private static int open(DuzEdorire face, String reader, String url) {
        face.authen_host = url;
        checkEquals(0, face.getIccList(), "getIccList result");
        int handle = face.openDevice(reader);
        check(handle > 0, "handle " + handle);
        return handle;
    }

    // args: reader, server URL
    private static void keys(DuzEdorire face, String[] args) {
        int handle = open(face, args[1], args[2]);
        int rc = face.eidAuthentication(handle, 0, 0, 0, 0, 0, 0, 0x124, 0, 0, 0, 0, "1234");
        checkEquals(0, rc, "eidAuthentication");
        checkEquals(0, face.retval, "retval");
        checkEquals(transactionXml("TXAUTH"), face.retval_xml, "authentication transaction XML");

        String hash = face.gethash(0, "abc", 0);
        rc = face.eidSigningData(handle, 0, 0, 0, 0, 0, 0, 0, 0x124, 0, 0, 0, "1234", hash, "contract-7");
        checkEquals(0, rc, "eidSigningData");
        checkEquals(transactionXml("TXSIGN"), face.retval_xml, "signing transaction XML");

        // Refused before the card or the server is asked; fields unchanged.
        face.retval = 5;
        checkEquals(7001, face.eidSigningData(handle, 0, 0, 0, 0, 0, 0, 0, 0x124, 0, 0, 0, "1234", "", "x"),
                "empty hash");
        checkEquals(7001, face.eidSigningData(handle, 0, 0, 0, 0, 0, 0, 0, 0x124, 0, 0, 0, "1234",
                "A9993E364706816ABA3E25717850C26C9CD0D8XZ", "x"), "hash with non-hexadecimal digits");
        checkEquals(7001, face.eidSigningData(handle, 0, 0, 0, 0, 0, 0, 0, 0x124, 0, 0, 0, "1234", hash + "00", "x"),
                "hash of more than 40 digits");
        checkEquals(5, face.retval, "retval after refused hashes");

        // Signing again, from the cache, then after the cache was emptied:
        // the launcher counts the certificate reads.
        rc = face.eidSigningData(handle, 0, 0, 0, 0, 0, 0, 0, 0x124, 0, 0, 0, "1234", hash, "contract-8");
        checkEquals(0, rc, "eidSigningData with the cache");
        checkEquals(0, face.destroyApplet(), "destroyApplet");
        rc = face.eidSigningData(handle, 0, 0, 0, 0, 0, 0, 0, 0x124, 0, 0, 0, "1234", hash, "contract-9");
        checkEquals(0, rc, "eidSigningData after destroyApplet");
    }

    // args: reader, server URL
    private static void secureEntry(DuzEdorire face, String[] args) {
        String reader = args[1];
        open(face, reader, args[2]);
        checkEquals(0, face.getSCReaderName(), "getSCReaderName");
        checkEquals(reader, face.str_getSCReaderName, "selected reader");
        checkEquals(1, face.isSupportedSPESCReader(reader), "reader named in spinpad.txt");
        checkEquals(0, face.isOperationalSPESCReader(reader), "no library yet");
        checkEquals(-1, face.setSPELibrary(reader, "no-such-library"), "library that is nowhere");
        checkEquals(-1, face.setSPELibrary(null, "spetest"), "null reader");
        checkEquals(-1, face.setSPELibrary(reader, null), "null library");
        checkEquals(0, face.setSPELibrary(reader, "spetest"), "library found along PATH");
        checkEquals(1, face.isOperationalSPESCReader(reader), "library loaded for the reader");
        checkEquals(0, face.getXMLListSupportedSPEReaders(), "getXMLListSupportedSPEReaders");
        check(face.str_XMLListSupportedSPEReaders != null
                && face.str_XMLListSupportedSPEReaders.contains("<reader>Kit PIN Pad</reader>"),
                "supported readers: " + face.str_XMLListSupportedSPEReaders);
        checkEquals(0, face.isOperationalSPESCReader(reader), "the list switches the mode off");
    }

    // args: reader, server URL; the current directory holds a file of the
    // library's name that is no library, PATH the real one.
    private static void libraryAlongPath(DuzEdorire face, String[] args) {
        String reader = args[1];
        open(face, reader, args[2]);
        checkEquals(0, face.setSPELibrary(reader, "spetest"), "setSPELibrary");
        checkEquals(1, face.isOperationalSPESCReader(reader), "the library along PATH, not the current directory's file");
    }

    public static void main(String[] args) {
        System.loadLibrary("tarvik");
        DuzEdorire face = new DuzEdorire();
        String which = args.length > 0 ? args[0] : "";
        switch (which) {
            case "gethash":
                gethash(face);
                break;
            case "no-readers":
                noReaders(face, args);
                break;
            case "public-data":
                publicData(face, args);
                break;
            case "keys":
                keys(face, args);
                break;
            case "changed-card":
                changedCard(face, args);
                break;
            case "secure-entry":
                secureEntry(face, args);
                break;
            case "library-along-path":
                libraryAlongPath(face, args);
                break;
            default:
                System.err.println("unknown case " + which);
                System.exit(2);
        }
        if (failures > 0) System.exit(1);
        System.out.println("ok: " + which);
    }
}
