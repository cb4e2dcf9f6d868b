// Export markers for the stand-in libraries: an entry point is left out of
// a deliberately incomplete build, and an unloadable build needs a symbol
// that nothing defines.
#ifndef KIT_STANDINS_STANDIN_EXPORT_H
#define KIT_STANDINS_STANDIN_EXPORT_H

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

#ifdef STANDIN_UNLOADABLE
extern "C" void kit_standin_symbol_defined_nowhere();
__attribute__((used)) static void (*const kit_standin_unresolved)() = &kit_standin_symbol_defined_nowhere;
#endif

#endif
