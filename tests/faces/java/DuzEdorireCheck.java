import com.velmora.tessaro.client.pcsc.common.DuzEdorire;

/**
 * Calls the natives of DuzEdorire on the JVM and checks results and fields.
 * Usage: DuzEdorireCheck CASE [arguments...]; exits 0 when every check held.
 */
public final class DuzEdorireCheck {
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

    private static void gethash(DuzEdorire face) {
        checkEquals("A9993E364706816ABA3E25717850C26C9CD0D89D", face.gethash(0, "abc", 0), "SHA-1 of abc");
        checkEquals("", face.gethash(7, "", 9), "SHA-1 of the empty text");
        // Digested over the UTF-8 bytes C3 A9.
        checkEquals("BF15BE717AC1B080B4F1C456692825891FF5073D", face.gethash(0, "\u00e9", 0), "SHA-1 of e-acute");
    }

    public static void main(String[] args) {
        System.loadLibrary("tarvik");
        DuzEdorire face = new DuzEdorire();
        String which = args.length > 0 ? args[0] : "";
        switch (which) {
            case "gethash":
                gethash(face);
                break;
            default:
                System.err.println("unknown case " + which);
                System.exit(2);
        }
        if (failures > 0) System.exit(1);
        System.out.println("ok: " + which);
    }
}
