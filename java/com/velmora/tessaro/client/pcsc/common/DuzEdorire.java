package com.velmora.tessaro.client.pcsc.common;

/**
 * Java host class of libtarvik.so. Natives hand their data back through the
 * public fields; every native but gethash returns an int code.
 * Call getIccList first (log, engine and server URL), then openDevice, then
 * the reads and transactions with the handle openDevice returned.
 */
public class DuzEdorire {
    /** Server URL, read by getIccList. */
    public String authen_host;
    public String str_getIccList;
    public String str_XMLListSupportedSPEReaders;
    public String str_getSCReaderName;
    public String str_ID_RN;
    public String str_ID_Address;
    public String str_ascii_photo;
    public int photo_size;
    public int retval;
    public String retval_xml;

    public native int destroyApplet();

    public native int readEidPublicIdentify(int handle, int format, int mask0, int mask1, int mask2, int mask3,
            int mask4, int mask5, int mask6, int mask7, int mask8, int mask9);

    public native int readEidPublic(int handle, int unused, int mask0, int mask1, int mask2, int mask3, int mask4,
            int mask5, int mask6, int mask7, int mask8, int mask9);

    public native int eidPubDataVerify(int handle, int unused, int mask0, int mask1, int mask2, int mask3,
            int mask4, int mask5, int mask6, int mask7, int mask8, int mask9);

    public native int eidAuthentication(int handle, int unused, int mask0, int mask1, int mask2, int mask3,
            int mask4, int mask5, int mask6, int mask7, int mask8, int mask9, String pin);

    public native int eidSigningData(int handle, int unused, int mask0, int mask1, int mask2, int mask3,
            int mask4, int mask5, int mask6, int mask7, int mask8, int mask9, String pin, String hash,
            String documentReference);

    /** SHA-1 of text as 40 upper-case hexadecimal digits; the int arguments are not used. */
    public native String gethash(int unused1, String text, int unused3);

    public native int getIccList();

    public native int openDevice(String readerName);

    public native int getXMLListSupportedSPEReaders();

    public native int setSPELibrary(String readerName, String libraryName);

    public native int getSCReaderName();

    public native int isSupportedSPESCReader(String readerName);

    public native int isOperationalSPESCReader(String readerName);
}
