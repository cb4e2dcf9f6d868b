// libselvane.so is assembled from the selvane_core archive; its exports are
// listed in include/selvane.h and selvane.map.
#include "selvane.h"
