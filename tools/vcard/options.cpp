#include "tools/vcard/options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string_view>

#include "tools/vcard/eid_pki_profile.h"
#include "tools/vcard/eid_security.h"
#include "tools/vcard/profiles.h"

namespace vcard {

namespace {

std::optional<Bytes> bytes_argument(std::string_view text) {
    if (!text.empty() && text[0] == '@') {
        std::ifstream in(std::string(text.substr(1)), std::ios::binary);
        if (!in) return std::nullopt;
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return from_hex(text);
}

// PREFIX=SW[:N], or with_data PREFIX=DATA+SW[:N].
bool parse_sw_rule(std::string_view text, StatusRule& rule, bool with_data = false) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) return false;
    auto prefix = from_hex(text.substr(0, eq));
    std::string_view rest = text.substr(eq + 1);
    const auto colon = rest.find(':');
    auto answer = from_hex(rest.substr(0, colon));
    if (!prefix || !answer || answer->size() < 2 || (!with_data && answer->size() != 2)) return false;
    rule.prefix = *prefix;
    const auto sw = answer->end() - 2;
    rule.data.assign(answer->begin(), sw);
    rule.sw = static_cast<uint16_t>(sw[0] << 8 | sw[1]);
    rule.remaining = colon == std::string_view::npos ? -1 : std::atoi(std::string(rest.substr(colon + 1)).c_str());
    return true;
}

// Every option but --absent and --help takes a value.
constexpr std::string_view kValueOptions[] = {"--port", "--host", "--profile", "--atr",  "--file",
                                              "--memory", "--sw", "--key", "--pin", "--cut",
                                              "--pki", "--variant", "--log", "--driver-timeout", "--answer"};

}  // namespace

const char* const kUsage =
    "usage: kit-vcard [OPTION VALUE]... [--absent]\n"
    "A virtual smart card for the vpcd reader driver of pcscd.\n"
    "  --port N            vpcd port to connect to (default 35963)\n"
    "  --host ADDR         vpcd address (default 127.0.0.1)\n"
    "  --profile NAME      eid | eid-t1 | sle4418 (default eid)\n"
    "  --pki DIR           eID files, certificates and keys from a testpki folder\n"
    "  --variant NAME      a variant of those files\n"
    "  --pin DIGITS        eid profiles: the card's PIN (default 1234; three tries)\n"
    "  --key REF=PATH      eid profiles: RSA private key (PEM) for key reference 82 or 83\n"
    "  --atr HEX           replaces the profile's ATR\n"
    "  --file PATH=HEX     puts a file (\"3F00/DF01/4031=0102...\"); PATH=@FILE reads the bytes from FILE\n"
    "  --memory HEX|@FILE  replaces the memory image\n"
    "  --sw PREFIX=SW[:N]  APDUs beginning with PREFIX get status word SW (N times; default always)\n"
    "  --answer PREFIX=HEX[:N]  like --sw, with response data: HEX is the data then the status word\n"
    "  --cut PREFIX        an APDU beginning with PREFIX closes the link without an answer\n"
    "  --absent            starts removed (insert with SIGUSR2)\n"
    "  --log FILE          APDU log, one line per event\n"
    "  --driver-timeout S  gives up when vpcd does not answer for S seconds (default 30)\n"
    "Signals: SIGUSR1 removes the card, SIGUSR2 inserts it again,\n"
    "SIGHUP writes out the log lines held in memory, SIGTERM ends.\n";

bool help_requested(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") return true;
        if (arg != "--absent") ++i;  // skip the value
    }
    return false;
}

std::optional<std::pair<Options, Card>> parse_options(int argc, char** argv) {
    Options options;
    std::string profile = "eid";
    std::string pki_folder, pki_variant;
    std::vector<std::pair<std::string_view, std::string_view>> pending;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--absent") {
            options.start_absent = true;
            continue;
        }
        if (std::find(std::begin(kValueOptions), std::end(kValueOptions), arg) == std::end(kValueOptions)) {
            std::fprintf(stderr, "kit-vcard: %s %s (see kit-vcard --help)\n",
                         arg.starts_with("-") ? "unknown option" : "unexpected argument", argv[i]);
            return std::nullopt;
        }
        // An option never stands in for a value.
        if (i + 1 >= argc || std::string_view(argv[i + 1]).starts_with("--")) {
            std::fprintf(stderr, "kit-vcard: %s needs a value\n", argv[i]);
            return std::nullopt;
        }
        const std::string_view value = argv[++i];
        if (arg == "--port") options.port = std::atoi(argv[i]);
        else if (arg == "--host") options.host = value;
        else if (arg == "--profile") profile = value;
        else if (arg == "--log") options.log_path = value;
        else if (arg == "--pki") pki_folder = value;
        else if (arg == "--variant") pki_variant = value;
        else if (arg == "--driver-timeout") {
            options.driver_timeout_seconds = std::atoi(argv[i]);
            if (options.driver_timeout_seconds <= 0) {
                std::fprintf(stderr, "kit-vcard: --driver-timeout takes whole seconds above 0\n");
                return std::nullopt;
            }
        } else pending.emplace_back(arg, value);
    }
    auto card = make_profile(profile);
    if (!card) {
        std::fprintf(stderr, "kit-vcard: unknown profile %s\n", profile.c_str());
        return std::nullopt;
    }
    if (!pki_folder.empty() && !install_eid_pki(*card, pki_folder, pki_variant)) {
        std::fprintf(stderr, "kit-vcard: cannot make the eID files from %s (variant %s)\n", pki_folder.c_str(),
                     pki_variant.c_str());
        return std::nullopt;
    }
    const auto security = profile.starts_with("eid") ? install_eid_security(*card) : nullptr;
    // A test PKI also brings the two private keys; --key may replace them.
    if (security && !pki_folder.empty() &&
        !(security->load_key(0x82, pki_folder + "/auth.key.pem") && security->load_key(0x83, pki_folder + "/sign.key.pem"))) {
        std::fprintf(stderr, "kit-vcard: cannot load the keys from %s\n", pki_folder.c_str());
        return std::nullopt;
    }
    for (const auto& [arg, value] : pending) {
        bool ok = true;
        if (arg == "--atr") {
            auto atr = from_hex(value);
            ok = atr && !atr->empty();
            if (ok) card->atr = *atr;
        } else if (arg == "--file") {
            const auto eq = value.find('=');
            auto content = eq == std::string_view::npos ? std::nullopt : bytes_argument(value.substr(eq + 1));
            ok = content && card->files.put(value.substr(0, eq), *content);
        } else if (arg == "--memory") {
            auto image = bytes_argument(value);
            ok = image.has_value();
            if (ok) card->memory = *image;
        } else if (arg == "--sw") {
            StatusRule rule;
            ok = parse_sw_rule(value, rule);
            if (ok) card->add_status_rule(rule);
        } else if (arg == "--answer") {
            StatusRule rule;
            ok = parse_sw_rule(value, rule, true);
            if (ok) card->add_status_rule(rule);
        } else if (arg == "--cut") {
            auto prefix = from_hex(value);
            ok = prefix.has_value();
            if (ok) options.cut_prefixes.push_back(*prefix);
        } else if (arg == "--key" && security) {
            ok = parse_key_option(*security, value);
        } else if (arg == "--pin" && security) {
            security->set_pin(std::string(value));
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "kit-vcard: bad option %.*s %.*s\n", static_cast<int>(arg.size()), arg.data(),
                         static_cast<int>(value.size()), value.data());
            return std::nullopt;
        }
    }
    return std::make_pair(std::move(options), std::move(*card));
}

}  // namespace vcard
