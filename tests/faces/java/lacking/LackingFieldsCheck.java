import com.velmora.tessaro.client.pcsc.common.DuzEdorire;

/** getIccList on a class without its fields: -1, and no exception reaches Java. */
public final class LackingFieldsCheck {
    public static void main(String[] args) {
        System.loadLibrary("tarvik");
        int rc = new DuzEdorire().getIccList();
        if (rc != -1) {
            System.err.println("FAILED: getIccList answered " + rc);
            System.exit(1);
        }
        System.out.println("ok: lacking fields");
    }
}
