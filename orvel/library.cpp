// liborvel.so is assembled from the orvel_core archive; the trace state is
// static and valid from load, so loading the library runs nothing but the
// registration of its fork handlers.
