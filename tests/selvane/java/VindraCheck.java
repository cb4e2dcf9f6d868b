import com.velmora.vindra.Vindra;
import java.io.File;

/** Drives Vindra's natives; exits 0 when every check holds, 1 otherwise. */
public class VindraCheck {
    private static int failures = 0;

    private static void check(boolean ok, String what) {
        if (!ok) {
            System.err.println("FAILED: " + what);
            failures++;
        }
    }

    private static boolean isHex(String s) {
        return s != null && s.matches("([0-9A-F]{2})+");
    }

    /** The text with its escapes (backslash-u and four hex digits, backslash-n) decoded. */
    private static String unescape(String s) {
        StringBuilder out = new StringBuilder();
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            if (c == '\\' && i + 5 < s.length() && s.charAt(i + 1) == 'u') {
                out.append((char) Integer.parseInt(s.substring(i + 2, i + 6), 16));
                i += 5;
            } else if (c == '\\' && i + 1 < s.length() && s.charAt(i + 1) == 'n') {
                out.append('\n');
                i += 1;
            } else {
                out.append(c);
            }
        }
        return out.toString();
    }

    /** No reader: the reads fail with fields set to defined values; the SAM is never reached. */
    private static void withoutReaders() {
        Vindra v = new Vindra();
        check(v.ngetDevices(0) == 0, "ngetDevices returns 0");
        check("".equals(v.vindra_devices), "no reader names: " + v.vindra_devices);
        check(v.nopenDevice("Nothing 00 00") <= 0, "nopenDevice of a missing reader");
        check(v.nreaderStatus(0) != 0, "nreaderStatus fails");
        check(v.vindra_cardpowered == 0 && v.vindra_cardremoved == 1 && "".equals(v.vindra_atr),
              "defined status fields: " + v.vindra_cardpowered + " " + v.vindra_cardremoved + " " + v.vindra_atr);
        check(v.neidRead(0, 0, "") != 0 && v.vindra_ID_RN_ascii == null, "neidRead without a device");
        check(v.nsisStatus() == 0, "nsisStatus");
        check(v.nsisRead(0, 0) != 1 && v.vindra_isdf_ascii == null, "nsisRead without a device");
        check(v.nsisReadPrivate(0, 0, "1234") == v.nsisRead(0, 0) && v.vindra_sfdf_ascii == null
                  && v.vindra_isdf_ascii == null, "nsisReadPrivate answers the failed public read");
        check(v.nbeep(0, 1) != 0, "nbeep without a device");
    }

    /** An SIS card in an OMNIKEY reader, and a SAM. */
    private static void sisCard(String reader, String sfdfExpected) {
        Vindra v = new Vindra();
        check(v.ngetDevices(0) == 0 && v.vindra_devices.contains(reader), "device list: " + v.vindra_devices);
        int handle = v.nopenDevice(reader);
        check(handle > 0, "nopenDevice: " + handle);
        check(v.nreaderStatus(0) == 0, "nreaderStatus");
        check(v.vindra_cardpowered == 1 && v.vindra_cardremoved == 0 && isHex(v.vindra_atr),
              "status fields: " + v.vindra_cardpowered + " " + v.vindra_cardremoved + " " + v.vindra_atr);
        check(v.nsisRead(handle, 0) == 1, "nsisRead");
        check(v.vindra_isdf_ascii != null && v.vindra_isdf_ascii.contains("=")
                  && v.vindra_pbdf_ascii != null && v.vindra_pbdf_ascii.contains("="),
              "SIS texts: " + v.vindra_isdf_ascii + " / " + v.vindra_pbdf_ascii);
        check(v.nsisReadPrivate(0, 1, "0000") == 0x9030 && v.vindra_sfdf_ascii == null, "wrong SAM PIN");
        check(v.nsisReadPrivate(0, 1, "1234") == 1, "nsisReadPrivate");
        check(v.vindra_sfdf_ascii.startsWith("<SIS_SFDF>") && v.vindra_isdf_ascii.startsWith("<"),
              "XML texts: " + v.vindra_isdf_ascii + " / " + v.vindra_sfdf_ascii);
        check(v.vindra_sfdf_ascii.contains(sfdfExpected), "SFDF text holds " + sfdfExpected + ": " + v.vindra_sfdf_ascii);
        check(v.ndisplayMessage(0, "Hello", 0, 0) == -1, "not a pinpad reader");
    }

    /** An eID card: identity and address, with and without the photo. */
    private static void eidCard(String reader, String photoPath, long photoSize) {
        Vindra v = new Vindra();
        check(v.nopenDevice(reader) > 0, "nopenDevice");
        check(v.neidRead(12345, 0, photoPath) == 0, "neidRead with photo");
        check(v.vindra_ID_RN_ascii != null && v.vindra_ID_RN_ascii.contains("NAME=Peeters\n"),
              "identity: " + v.vindra_ID_RN_ascii);
        check(v.vindra_ID_Address_ascii != null && v.vindra_ID_Address_ascii.contains("="),
              "address: " + v.vindra_ID_Address_ascii);
        check(new File(photoPath).length() == photoSize, "photo file size " + new File(photoPath).length());
        check(v.neidRead(0, 1, "x") == 0 && v.vindra_ID_RN_ascii.startsWith("<"), "XML identity without photo");
    }

    public static void main(String[] args) {
        switch (args[0]) {
            case "no-readers": withoutReaders(); break;
            case "sis": sisCard(args[1], unescape(args[2])); break;
            case "eid": eidCard(args[1], args[2], Long.parseLong(args[3])); break;
            default: check(false, "unknown scenario " + args[0]);
        }
        System.exit(failures == 0 ? 0 : 1);
    }
}
