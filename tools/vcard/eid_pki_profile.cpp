#include "tools/vcard/eid_pki_profile.h"

#include <fstream>
#include <iterator>
#include <optional>

#include "tools/vcard/profiles.h"

namespace vcard {

namespace {

std::optional<Bytes> load(const std::string& folder, const std::string& name) {
    std::ifstream in(folder + "/" + name, std::ios::binary);
    if (!in) return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct CardFiles {
    std::string identity = "identity.bin", identity_sig = "identity.sig", address = "address.bin",
                address_sig = "address.sig", photo = "photo.jpg";
    std::string auth = "auth.der", sign = "sign.der", ca = "ca.der", root = "root.der", rrn = "rrn.der";
};

}  // namespace

bool install_eid_pki(Card& card, const std::string& folder, std::string_view variant) {
    CardFiles names;
    if (variant == "foreign-root") names.root = "foreign_root.der";
    if (variant == "selfsigned-rrn") names.root = names.rrn = "rrn_selfsigned.der";
    if (variant == "selfsigned-ca") {
        names.ca = "own_ca.der";
        names.auth = "own_auth.der";
        names.sign = "own_sign.der";
    }
    if (variant == "zero-tail") {
        names.identity = "zt_identity.bin";
        names.identity_sig = "zt_identity.sig";
        names.address_sig = "zt_address.sig";
        names.photo = "zt_photo.jpg";
    }
    if (variant == "tag0-hash-00" || variant == "tag0-hash-0000") {
        const std::string prefix = variant == "tag0-hash-00" ? "tag0_00_" : "tag0_0000_";
        names.identity = prefix + "identity.bin";
        names.identity_sig = prefix + "identity.sig";
        names.address_sig = prefix + "address.sig";
        names.photo = prefix + "photo.jpg";
    }
    const bool known = variant.empty() || variant == "tampered-identity" || variant == "tampered-address" ||
                       variant == "wrong-photo-hash" || variant == "foreign-root" || variant == "selfsigned-rrn" ||
                       variant == "selfsigned-ca" || variant == "big-photo" ||
                       variant == "zero-tail" || variant == "tag0-hash-00" || variant == "tag0-hash-0000";
    if (!known) return false;
    auto identity = load(folder, names.identity);
    auto address = load(folder, names.address);
    auto photo = load(folder, names.photo);
    if (!identity || !address || !photo || identity->size() < 8 || address->size() < 8 || photo->size() < 8)
        return false;
    if (variant == "tampered-identity") (*identity)[4] ^= 0x01;
    if (variant == "tampered-address") (*address)[3] ^= 0x01;
    if (variant == "wrong-photo-hash") (*photo)[photo->size() / 2] ^= 0x01;
    if (variant == "big-photo") photo->resize(5000, 0x5A);
    const std::pair<const char*, std::optional<Bytes>> files[] = {
        {"3F00/DF01/4031", identity},
        {"3F00/DF01/4032", load(folder, names.identity_sig)},
        {"3F00/DF01/4033", address},
        {"3F00/DF01/4034", load(folder, names.address_sig)},
        {"3F00/DF01/4035", photo},
        {"3F00/DF01/4036", default_file_content(0x4036, 128)},
        {"3F00/DF00/5038", load(folder, names.auth)},
        {"3F00/DF00/5039", load(folder, names.sign)},
        {"3F00/DF00/503A", load(folder, names.ca)},
        {"3F00/DF00/503B", load(folder, names.root)},
        {"3F00/DF00/503C", load(folder, names.rrn)},
    };
    for (const auto& [path, content] : files)
        if (!content || !card.files.put(path, *content)) return false;
    return true;
}

}  // namespace vcard
