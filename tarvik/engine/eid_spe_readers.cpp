#include "tarvik/engine/eid_spe_readers.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

#include "orvel.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_session.h"
#include "tarvik/engine/ini_reader.h"
#include "tarvik/reader/hcl.h"
#include "tarvik/reader/outside_libraries.h"

namespace {

int g_spe_mode = 0;

void trace(const char* function, const char* message,
           const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    __tracef(ORVEL_DEBUG, function, file, line, "%s", message);
}

char* copy_text(const char* text) {
    const std::size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(std::calloc(length + 1, 1));
    if (copy != nullptr) std::memcpy(copy, text, length);
    return copy;
}

// Reads section "reader0<n>": its result (below 1: the list ends) and the two texts.
int read_section(const char* file, int number, std::array<char, EID_SPINPAD_VALUE_MAX>& name,
                 std::array<char, EID_SPINPAD_VALUE_MAX>& lib) {
    name.fill('\0');
    lib.fill('\0');
    const char section[] = {'r', 'e', 'a', 'd', 'e', 'r', '0', static_cast<char>('0' + number), '\0'};
    const std::array<IniRequest, 2> requests{{
        {"name", "%s", name.data(), name.size(), INI_UNESCAPE},
        {"lib", "%s", lib.data(), lib.size(), INI_UNESCAPE},
    }};
    return ini_get_values(file, section, requests);
}

bool append_reader(S_SPINPAD_READER**& tail, int number, const char* name, const char* lib) {
    auto* node = static_cast<S_SPINPAD_READER*>(std::calloc(1, sizeof(S_SPINPAD_READER)));
    if (node == nullptr) return false;
    node->number = number;
    node->name = copy_text(name);
    node->lib = copy_text(lib);
    if (node->name == nullptr || node->lib == nullptr) {
        eidFreeSPinpadList(node);
        return false;
    }
    *tail = node;
    tail = &node->next;
    return true;
}

}  // namespace

int eidParseSPinpadIni(const char* ini_filename, S_SPINPAD_READER** spinpad_reader) {
    static constexpr const char* kFn = "eidParseSPinpadIni";
    if (ini_filename == nullptr) {
        trace(kFn, "ERROR in eidParseSPinpadIni(), const char * ini_filename is NULL");
        return -1;
    }
    if (spinpad_reader == nullptr || *spinpad_reader != nullptr) {
        trace(kFn, "ERROR in eidParseSPinpadIni(), S_SPINPAD_READER ** spinpad_reader is NULL");
        return -1;
    }
    S_SPINPAD_READER** tail = spinpad_reader;
    std::array<char, EID_SPINPAD_VALUE_MAX> name{}, lib{};
    for (int number = 0; number < EID_SPINPAD_SECTIONS; ++number) {
        // A value too long for its buffer fails the read (-1) and ends the list.
        if (read_section(ini_filename, number, name, lib) < 1) break;
        if (name[0] == '\0' || lib[0] == '\0') continue;
        if (!append_reader(tail, number, name.data(), lib.data())) {
            trace(kFn, "ERROR in eidParseSPinpadIni(), out of memory");
            break;
        }
    }
    return 0;
}

void eidFreeSPinpadList(S_SPINPAD_READER* spinpad_reader) {
    while (spinpad_reader != nullptr) {
        S_SPINPAD_READER* next = spinpad_reader->next;
        std::free(spinpad_reader->name);
        std::free(spinpad_reader->lib);
        std::free(spinpad_reader);
        spinpad_reader = next;
    }
}

int eidIsSupportedSPEReaderIn(const char* data_directory, const char* reader_name, int* supported) {
    static constexpr const char* kFn = "eidIsSupportedSPEReader";
    if (data_directory == nullptr || reader_name == nullptr || supported == nullptr) {
        trace(kFn, "ERROR in eidIsSupportedSPEReader(), argument is NULL");
        return -1;
    }
    std::string path = data_directory;
    if (!path.empty() && !path.ends_with('/')) path += '/';
    path += EID_SPINPAD_FILE_NAME;
    if (path.size() >= EID_SPINPAD_PATH_MAX) {
        trace(kFn, "ERROR in eidIsSupportedSPEReader(), spinpad.txt path too long");
        return -1;
    }
    S_SPINPAD_READER* list = nullptr;
    if (const int parsed = eidParseSPinpadIni(path.c_str(), &list); parsed != 0) {
        trace(kFn, "ERROR in eidIsSupportedSPEReader() while calling eidParseSPinpadIni()");
        return parsed;
    }
    if (list == nullptr) {
        trace(kFn, "ERROR in eidIsSupportedSPEReader(), S_SPINPAD_READER * spinpad_reader is NULL");
        return -1;
    }
    for (const S_SPINPAD_READER* node = list; node != nullptr; node = node->next) {
        if (std::strstr(reader_name, node->name) != nullptr) {
            *supported = 1;
            break;
        }
    }
    eidFreeSPinpadList(list);
    return 0;
}

int eidSetSPELibrary(const char* reader_name, const char* spe_reader_name, const char* library) {
    static constexpr const char* kFn = "eidSetSPELibrary";
    if (reader_name == nullptr || spe_reader_name == nullptr ||
        std::strlen(spe_reader_name) >= EID_SPE_READER_NAME_SIZE) {
        trace(kFn, "ERROR in eidSetSPELibrary(), reader name is NULL or too long");
        return -1;
    }
    if (const int loaded = HCL_load_spe_reader_dll(library); loaded != 0) {
        trace(kFn, "ERROR in eidSetSPELibrary() while calling HCL_load_spe_reader_dll()");
        return loaded;
    }
    // The loader replaced any earlier library: until SCR_Init answers, the
    // PIN operations must not use it.
    g_spe_mode = 0;
    int out = 0;
    const long initialised = spe_entry_points().SCR_Init(reader_name, 1, &out);
    if (initialised != 0) {
        trace(kFn, "ERROR in eidSetSPELibrary() while calling SCR_Init()");
        return static_cast<int>(initialised);
    }
    char* kept = eid_spe_reader_name();
    std::memset(kept, 0, EID_SPE_READER_NAME_SIZE);
    std::memcpy(kept, spe_reader_name, std::strlen(spe_reader_name));
    g_spe_mode = 1;
    return 0;
}

int eidGetXMLSuportedSPEReaders(char* xml) {
    static constexpr const char* kFn = "eidGetXMLSuportedSPEReaders";
    g_spe_mode = 0;
    if (xml == nullptr) {
        trace(kFn, "ERROR in eidGetXMLSuportedSPEReaders(), char * xml is NULL");
        return -1;
    }
    if (const int loaded = load_kelpra0001_dll(); loaded != 0) {
        trace(kFn, "ERROR in eidGetXMLSuportedSPEReaders(), while calling load_kelpra0001_dll()");
        return loaded;
    }
    char* list = nullptr;
    if (const int listed = kelpra_entry_points().getxmlsupportedspescreaders(&list); listed != 0) {
        trace(kFn, "ERROR in eidGetXMLSuportedSPEReaders(), while calling getxmlsupportedspescreaders()");
        return listed;
    }
    const char* text = list != nullptr ? list : "";
    __tracef(ORVEL_DEBUG, kFn, __FILE__, __LINE__, "Supported SPE readers: %s", text);
    const std::size_t length = std::strlen(text);
    if (length >= EID_SPE_READER_LIST_MAX) {
        xml[0] = '\0';
        trace(kFn, "ERROR in eidGetXMLSuportedSPEReaders(), list longer than the buffer");
        return -3;
    }
    std::memcpy(xml, text, length + 1);
    return 0;
}

int eidIsSupportedSPEReader(const char* reader_name, int* supported) {
    return eidIsSupportedSPEReaderIn(eid_data_directory(), reader_name, supported);
}

int eidGetSCReaderName(char** screader_name) {
    static constexpr const char* kFn = "eidGetSCReaderName";
    if (screader_name == nullptr) {
        trace(kFn, "ERROR in eidGetSCReaderName(). char ** screader_name is NULL");
        return -1;
    }
    *screader_name = copy_text(eid_selected_reader_name());
    if (*screader_name == nullptr) {
        trace(kFn, "ERROR in eidGetSCReaderName(). Failed to allocate memory, (char *) *screader_name is NULL");
        return -1;
    }
    return 0;
}

int eidIsOperationalSPESCReader(const char* reader_name, int* operational) {
    if (operational == nullptr) return 0;
    *operational = reader_name != nullptr && g_spe_mode == 1 &&
                           std::strcmp(reader_name, eid_selected_reader_name()) == 0
                       ? 1
                       : 0;
    return 0;
}

int eid_spe_mode() { return g_spe_mode; }
