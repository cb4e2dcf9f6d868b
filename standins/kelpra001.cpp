// Stand-in provider of the list of supported secure-PIN-entry readers.
#include "standins/standin_export.h"

#ifndef STANDIN_WITHOUT_getxmlsupportedspescreaders
STANDIN_EXPORT int getxmlsupportedspescreaders(char** xml) {
    static char list[] =
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><SPE_READERS>"
        "<reader>Kit PIN Pad</reader></SPE_READERS>";
    if (!xml) return -1;
    *xml = list;
    return 0;
}
#endif
