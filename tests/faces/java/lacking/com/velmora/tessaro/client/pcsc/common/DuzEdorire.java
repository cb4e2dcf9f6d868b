package com.velmora.tessaro.client.pcsc.common;

/** A host class without the fields getIccList uses. */
public class DuzEdorire {
    public native int getIccList();
}
