#include "selvane/sam_read.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <span>
#include <string>

#include "orvel.h"
#include "platform/secret_wipe.h"
#include "selvane/sfdf.h"
#include "selvane/sis_keys.h"

namespace selvane::sam {

namespace {

constexpr const char* kTraceName = "PCSC_SIS_Read_Private";
constexpr std::size_t kVerifyLength = 9;
constexpr std::size_t kPinOffset = 5;
constexpr std::size_t kPinLength = 4;

void trace(unsigned level, const std::string& text, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    __tracef(level, kTraceName, file, line, "%s", text.c_str());
}

void trace_result(const char* call, ctm::Status result,
                  const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    trace(ORVEL_DEBUG, std::string(call) + std::to_string(result), file, line);
}

using VerifyCommand = std::array<unsigned char, 128>;

// 80 20 01 03 04 and the PIN, as far as it goes within four characters.
void fill_verify_command(VerifyCommand& command, const char* pin) {
    command = {0x80, 0x20, 0x01, 0x03, 0x04};
    for (std::size_t i = 0; pin && i < kPinLength && pin[i] != '\0'; ++i)
        command[kPinOffset + i] = static_cast<unsigned char>(pin[i]);
}

// Where a card-open or a card command reports back.
struct CardReply {
    std::uint16_t length = 0;
    std::array<unsigned char, 258> bytes{};
    std::uint8_t card_status = 0;
    std::uint16_t status = 0;

    void make_room() { length = static_cast<std::uint16_t>(bytes.size()); }
};

// What the data fetches hand out, empty at every read so that a fetch that
// fails can never pass off an earlier card's data.
struct Fetched {
    std::array<unsigned char, 512> pbdf{};
    std::uint16_t pbdf_length = 0;
    std::array<unsigned char, 1024> sfdf{};
    std::uint16_t sfdf_length = 0;
    std::array<unsigned char, 256> certificate{};
    std::uint16_t certificate_length = 0;
};

// One use of the terminal: every handle opened is closed on every path.
class TerminalSession {
public:
    explicit TerminalSession(const ctm::Functions& f) : f_(f) {}
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;
    ~TerminalSession() { close_all(); }

    bool open_application() { return (application_open_ = f_.open(&application_) == 0); }
    bool open_sam() { return (sam_open_ = f_.res_open(application_, "SAM", &sam_) == 0); }
    bool open_sis() { return (sis_open_ = f_.res_open(application_, "SIS", &sis_) == 0 && sis_ != 0); }

    ctm::Handle sam() const { return sam_; }
    ctm::Handle sis() const { return sis_; }

    // The success path gives up exclusive use before closing.
    void end_exclusive_use() {
        f_.set_exclusivity(sam_, 0);
        f_.set_exclusivity(sis_, 0);
    }

private:
    void close_all() {
        if (sis_open_) f_.res_close(sis_);
        if (sam_open_) f_.res_close(sam_);
        if (application_open_) f_.close(application_);
    }

    const ctm::Functions& f_;
    ctm::Handle application_ = 0;
    ctm::Handle sam_ = 0;
    ctm::Handle sis_ = 0;
    bool application_open_ = false;
    bool sam_open_ = false;
    bool sis_open_ = false;
};

int open_resources(TerminalSession& session) {
    if (!session.open_application()) {
        trace(ORVEL_ERR, "-1 = CtmOpen(&AppHdl);");
        return kFailed;
    }
    if (!session.open_sam()) {
        trace(ORVEL_ERR, "-1 = CtmResOpen(AppHdl,\"SAM\",&SamHdl);");
        return kFailed;
    }
    if (!session.open_sis()) {
        trace(ORVEL_ERR, "-1 = CtmResOpen(AppHdl,\"SIS\",&SamHdl);");
        return kFailed;
    }
    return kRead;
}

// Opens the SAM and unlocks it with the PIN.
int unlock_sam(const ctm::Functions& f, const TerminalSession& session, const char* pin) {
    CardReply reply;
    reply.make_room();
    f.card_open(session.sam(), "Insert sam card", 0, 1, &reply.length, reply.bytes.data(), &reply.card_status,
                &reply.status);  // a missing SAM shows in the VERIFY reply
    VerifyCommand command;
    const WipeOnExit wipe_command(command);  // it holds the SAM PIN
    fill_verify_command(command, pin);
    reply = CardReply{};
    reply.make_room();
    if (f.card_command(session.sam(), 0, kVerifyLength, command.data(), &reply.length, reply.bytes.data(),
                       &reply.card_status, &reply.status) != 0) {
        trace(ORVEL_ERR,
              "-1 = CtmCardCommand(SamHdl,(HDL)0, 5+4, (char*)CardCmds[0],&replen,response,&cardstatus,&status);");
        return kFailed;
    }
    if (reply.length == 0) {
        trace(ORVEL_ERR, "0x9001 = card not inserted or wrong pincode !!! ");
        return kNoSamOrWrongPin;
    }
    if (reply.length == 2 && reply.bytes[0] * 256 + reply.bytes[1] == kWrongPin) {
        trace(ORVEL_ERR, "0x9030 = wrong pincode !!! ");
        return kWrongPin;
    }
    return kRead;
}

int open_sis_card(const ctm::Functions& f, const TerminalSession& session) {
    CardReply reply;
    reply.make_room();
    if (f.card_open(session.sis(), "Insert sis card", 0, 20, &reply.length, reply.bytes.data(), &reply.card_status,
                    &reply.status) != 0) {
        trace(ORVEL_ERR, " FAILED CtmCardOpen(SisHdl,\"Insert sis card\",0x00,20,&lenAtr,atrbuf,&cardstatus,&status)");
        return kFailed;
    }
    if (f.set_exclusivity(session.sam(), 1) != 0) return kExclusivityRefused;
    if (f.set_exclusivity(session.sis(), 1) != 0) {
        trace(ORVEL_ERR, "CtmSetExclusivity");
        return kExclusivityRefused;
    }
    return kRead;
}

// Reads the three files and fetches the PBDF and the SFDF with its
// certificate. An SFDF that cannot be fetched counts as one without
// certificate.
int fetch_files(const ctm::Functions& f, const TerminalSession& session, Fetched& out) {
    std::array<unsigned char, 128> tracing_data{};
    const unsigned char* const* keys = ctm::sis_key_table();
    trace_result("BncsInitialise(SisHdl,SamHdl,\"bncs.ini\",tracingdata)-> retval =",
                 f.bncs_initialise(session.sis(), session.sam(), "bncs.ini", tracing_data.data()));
    trace_result("BncsReadData(SisHdl,SIS_ISDF,1,siskeys) -> retval=",
                 f.bncs_read_data(session.sis(), ctm::kIsdfFile, 1, keys));
    trace_result("BncsReadData(SisHdl,SIS_PBDF,1,siskeys) -> retval=",
                 f.bncs_read_data(session.sis(), ctm::kPbdfFile, 1, keys));
    trace_result("BncsReadData(SisHdl,SIS_SFDF,1,siskeys) -> retval=",
                 f.bncs_read_data(session.sis(), ctm::kSfdfFile, 1, keys));

    out.pbdf_length = static_cast<std::uint16_t>(out.pbdf.size());
    std::uint16_t unused_certificate_length = 0;
    trace_result("BncsGetData(SisHdl,SIS_PBDF,&datalen_pbdf,p_tlv_pbdf,&certlen,NULL) -> retval=",
                 f.bncs_get_data(session.sis(), ctm::kPbdfFile, &out.pbdf_length, out.pbdf.data(),
                                 &unused_certificate_length, nullptr));

    out.sfdf_length = static_cast<std::uint16_t>(out.sfdf.size());
    out.certificate_length = static_cast<std::uint16_t>(out.certificate.size());
    const ctm::Status sfdf_result = f.bncs_get_data(session.sis(), ctm::kSfdfFile, &out.sfdf_length, out.sfdf.data(),
                                                    &out.certificate_length, out.certificate.data());
    trace_result("BncsGetData(SisHdl,SIS_SFDF,&datalen_sfdf,p_tlv_sfdf,&certlen,sfdf_cert) -> retval=", sfdf_result);
    if (sfdf_result != 0) out = Fetched{};
    out.sfdf_length = std::min(out.sfdf_length, static_cast<std::uint16_t>(out.sfdf.size()));
    out.certificate_length = std::min(out.certificate_length, static_cast<std::uint16_t>(out.certificate.size()));
    if (out.certificate_length == 0) {
        trace(ORVEL_ERR, "0x9002 = incorrect certlen -> sam error ?");
        return kNoCertificate;
    }
    return kRead;
}

// Everything the terminal does for one read; all handles are closed on return.
int run_terminal(const ctm::Functions& f, const char* pin, Fetched& fetched) {
    TerminalSession session(f);
    int result = open_resources(session);
    if (result == kRead) result = unlock_sam(f, session, pin);
    if (result == kRead) result = open_sis_card(f, session);
    if (result == kRead) result = fetch_files(f, session, fetched);
    if (result == kRead) session.end_exclusive_use();
    return result;
}

std::string today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[40];
    std::snprintf(text, sizeof text, "%4d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    return text;
}

// False, with nothing appended, when the text would not fit in the SFDF
// buffer after what the host left there.
bool append_sfdf_text(const Fetched& fetched, int mode, char* sfdf) {
    const sfdf::Record record = sfdf::decode(std::span(fetched.sfdf.data(), fetched.sfdf_length),
                                             std::span(fetched.certificate.data(), fetched.certificate_length), today());
    const std::string text = sfdf::render(record, mode);
    const std::size_t held = strnlen(sfdf, sfdf::kTextCapacity);
    if (held == sfdf::kTextCapacity || text.size() >= sfdf::kTextCapacity - held) return false;
    std::memcpy(sfdf + held, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

int read_private(ctm::Library& library, PublicRead public_read, int handle, int mode, const char* pin, char* isdf,
                 char* pbdf, char* sfdf) {
    if (!isdf) return kNullIsdf;
    if (!pbdf) return kNullPbdf;
    if (!sfdf) return kNullSfdf;
    trace(ORVEL_DEBUG, ">>>>");
    const ctm::Functions* f = library.functions();
    if (!f) {
        trace(ORVEL_ERR, "-1");
        return kFailed;
    }
    // Nothing is opened yet: a failed public read ends the call, so no SFDF
    // stands beside another card's texts or beside none.
    const int public_result = public_read(handle, mode, isdf, pbdf);
    if (public_result != kRead) {
        trace(ORVEL_ERR, "PCSC_SIS_Read -> " + std::to_string(public_result));
        return public_result;
    }

    Fetched fetched;
    const int result = run_terminal(*f, pin, fetched);
    if (result != kRead) return result;
    if (!append_sfdf_text(fetched, mode, sfdf)) {
        trace(ORVEL_ERR, "SFDF text does not fit the buffer: -1");
        return kFailed;
    }
    trace(ORVEL_DEBUG, "<<<<");
    return kRead;
}

}  // namespace selvane::sam
