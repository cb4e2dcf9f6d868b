// Run-time loading of outside libraries by their Windows file names.
#ifndef KIT_PLATFORM_DYNAMIC_LIBRARY_H
#define KIT_PLATFORM_DYNAMIC_LIBRARY_H

#include <string>
#include <string_view>

namespace kit::platform {

// "NAME.dll" (any case) becomes "libname.so"; a name holding "/" is used as
// given, and so is any other name.
std::string library_file_name(std::string_view name);

// Keeps the loaded module that holds address mapped until the process ends,
// whatever dlclose calls come later: a thread that runs its code, or a
// connection it holds, must never outlive it. False when the module cannot
// be found.
bool keep_module_loaded(const void* address);

// One reference to a loaded library (dlopen RTLD_NOW | RTLD_LOCAL); the
// reference is dropped when the object dies or is reset.
class DynamicLibrary {
public:
    DynamicLibrary() = default;
    // Loads name after library_file_name(); on failure the object stays
    // empty and dlerror() is traced at level 8 under trace_name, with the
    // caller's file and line.
    DynamicLibrary(std::string_view name, const char* trace_name,
                   const char* file = __builtin_FILE(), int line = __builtin_LINE());
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    ~DynamicLibrary();

    bool loaded() const { return handle_ != nullptr; }
    // The address of an exported symbol, null when missing (traced as by
    // the constructor).
    void* symbol(const char* name, const char* file = __builtin_FILE(), int line = __builtin_LINE()) const;
    // Typed form of symbol() for function pointers.
    template <typename Fn>
    Fn function(const char* name, const char* file = __builtin_FILE(), int line = __builtin_LINE()) const {
        return reinterpret_cast<Fn>(symbol(name, file, line));
    }
    void reset();

private:
    void* handle_ = nullptr;
    const char* trace_name_ = "";
};

}  // namespace kit::platform

#endif
