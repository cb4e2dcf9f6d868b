// Runs kit code under a host's locale. The C library's character classes
// and iconv's transliteration follow it: in ISO-8859-1, for one, isalnum()
// holds for 0xE9. KIT_TEST_LOCALE_DIR holds the ISO-8859-1 locale the build
// made; C.UTF-8 comes with the C library.
#ifndef KIT_TESTS_TEST_LOCALES_H
#define KIT_TESTS_TEST_LOCALES_H

#include <clocale>
#include <cstdlib>
#include <string>

namespace kit::test {

inline constexpr const char* kLatin1Locale = "fr_FR.ISO-8859-1";

// The process's locale (every category) while the object lives; ok() is
// false when the locale could not be set.
class ProcessLocale {
public:
    explicit ProcessLocale(const char* name) {
        ::setenv("LOCPATH", KIT_TEST_LOCALE_DIR ":/usr/lib/locale", 1);
        ok_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ProcessLocale() {
        std::setlocale(LC_ALL, "C");
        ::unsetenv("LOCPATH");
    }
    ProcessLocale(const ProcessLocale&) = delete;
    ProcessLocale& operator=(const ProcessLocale&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

}  // namespace kit::test

#endif
