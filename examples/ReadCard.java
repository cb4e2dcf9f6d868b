/* Reads the eID card in the first reader that holds one, through the Java
 * face of libselvane.so: identity and address as NAME=value lines, the photo
 * into a file. Build and run (see README; P is the kit's install prefix):
 *   javac -cp P/share/java/vindra.jar -d . ReadCard.java
 *   java -Djava.library.path=P/lib -cp P/share/java/vindra.jar:. ReadCard [PHOTO_FILE]
 * (default photo.jpg)                                                      */
import com.velmora.vindra.Vindra;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

public class ReadCard {
    public static void main(String[] args) throws IOException {
        Path photo = Paths.get(args.length > 0 ? args[0] : "photo.jpg");
        Vindra kit = new Vindra();
        if (kit.ngetDevices(0) != 0 || kit.vindra_devices == null || kit.vindra_devices.isEmpty()) {
            System.err.println("no readers");
            System.exit(1);
        }
        for (String reader : kit.vindra_devices.split("\n")) {
            // The library writes the photo and only traces a failed write:
            // a copy left from an earlier run would hide one.
            Files.deleteIfExists(photo);
            if (kit.nopenDevice(reader) <= 0 || kit.neidRead(0, 0, photo.toString()) != 0)
                continue; // no card, or not an eID card
            System.out.print("reader: " + reader + "\n" + kit.vindra_ID_RN_ascii + kit.vindra_ID_Address_ascii);
            boolean written = Files.isRegularFile(photo);
            System.out.println("photo: " + (written ? Files.size(photo) + " bytes written to " : "NOT written to ") + photo);
            System.exit(written ? 0 : 1);
        }
        System.err.println("no eID card in any reader");
        System.exit(1);
    }
}
