package com.velmora.vindra;

/**
 * Java face of libselvane.so. Each native method calls the SDK's flat API and
 * leaves its texts in the fields below; the int result is the flat API's.
 * Handles are those nopenDevice returned; 0 means the device opened last.
 */
public class Vindra {
    static {
        System.loadLibrary("selvane");
    }

    /** Reader list of ngetDevices (names joined by "\n", or XML). */
    public String vindra_devices;
    /** Card state of nreaderStatus: 1 powered, 1 removed, ATR as hex. */
    public int vindra_cardpowered;
    public int vindra_cardremoved;
    public String vindra_atr;
    /** SIS card texts of nsisRead and nsisReadPrivate. */
    public String vindra_isdf_ascii;
    public String vindra_pbdf_ascii;
    public String vindra_sfdf_ascii;
    /** eID identity and address texts of neidRead. */
    public String vindra_ID_RN_ascii;
    public String vindra_ID_Address_ascii;

    /** mode 1 XML, 0 names; always 0. */
    public native int ngetDevices(int mode);

    public native int nopenDevice(String reader);

    public native int nreaderStatus(int handle);

    public native int nsisRead(int handle, int mode);

    public native int nsisReadPrivate(int handle, int mode, String pin);

    public native int nsisStatus();

    /** Reads the device opened last; the photo is written to photoPath when it is longer than one character
     *  (never through a symbolic link at that name; a photo that cannot be written is traced, the read stands). */
    public native int neidRead(int unused, int mode, String photoPath);

    public native int ndisplayMessage(int handle, String text, int a, int b);

    public native int nbeep(int handle, int a);
}
