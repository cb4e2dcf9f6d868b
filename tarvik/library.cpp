// libtarvik.so is assembled from the archives of tarvik/reader, tarvik/engine
// and tarvik/faces; loading it builds nothing (all state is made on first use).
