#include "tarvik/faces/server_transport.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include <curl/curl.h>

#include "orvel.h"
#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/eid_callback.h"

char server_url[TRANSPORT_URL_SIZE];

namespace {

constexpr unsigned kTraceLevel = 8;
constexpr std::string_view kEnvelopeOpen = "<xml><tllv>";
constexpr std::string_view kEnvelopeClose = "</tllv></xml>";
constexpr std::string_view kReplyStart = "<xml>";
constexpr std::string_view kReplyEnd = "</tllv>";
// A reply this short carries no answer: the empty envelope plus one byte.
constexpr int kEmptyReplyMax = 25;

long g_connect_timeout = 15;
long g_total_timeout = 60;

#define TRANSPORT_TRACE(fn, ...) __trace(kTraceLevel, fn, __FILE__, __LINE__, __tracev(__VA_ARGS__))

// libcurl's global state is set up and torn down around every exchange, so
// nothing but the URL outlives an exchange.
class CurlGlobal {
public:
    CurlGlobal() { curl_global_init(CURL_GLOBAL_ALL); }
    ~CurlGlobal() { curl_global_cleanup(); }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
};

struct CurlEasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

// Owns the heap text that appendReplyChunk grows.
class Accumulator {
public:
    Accumulator() = default;
    ~Accumulator() { std::free(text_); }
    Accumulator(const Accumulator&) = delete;
    Accumulator& operator=(const Accumulator&) = delete;
    char** address() { return &text_; }
    std::string_view view() const { return text_ ? std::string_view(text_) : std::string_view(); }

private:
    char* text_ = nullptr;
};

bool is_kept(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::strchr(".-:;,", c) != nullptr;
}

// The number of characters formEncode writes for src when room is unlimited.
size_t form_encoded_length(std::string_view src) {
    size_t n = 0;
    for (unsigned char c : src) n += (c == ' ' || is_kept(c)) ? 1 : 3;
    return n;
}

// Builds "xml=" + form-encoded request + "\r\n"; empty when it does not fit
// the form buffer whole.
std::string build_post_body(const char* tx) {
    if (form_encoded_length(tx) + 4 >= TRANSPORT_FORM_CAPACITY) return {};
    std::string encoded(TRANSPORT_FORM_CAPACITY, '\0');
    formEncode(tx, encoded.data(), TRANSPORT_FORM_CAPACITY);
    encoded.resize(std::strlen(encoded.c_str()));
    return "xml=" + encoded + "\r\n";
}

// The reply headers are never looked at: they are taken and dropped, so
// they neither count against the reply limit nor pile up in memory.
size_t drop_header(char*, size_t size, size_t count, void*) { return size * count; }

int set_options(CURL* curl, Accumulator& reply, char* error_buffer, const char* url, const std::string& body) {
    const char* ca_bundle = std::getenv("CURL_CA_BUNDLE");
    CURLcode rc = CURLE_OK;
    auto set = [&](auto option, auto value) {
        if (rc == CURLE_OK) rc = curl_easy_setopt(curl, option, value);
    };
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSLVERSION, CURL_SSLVERSION_TLSv1_2);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (ca_bundle && *ca_bundle) set(CURLOPT_CAINFO, ca_bundle);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_CONNECTTIMEOUT, g_connect_timeout);
    set(CURLOPT_TIMEOUT, g_total_timeout);
    set(CURLOPT_FAILONERROR, 1L);
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_WRITEFUNCTION, appendReplyChunk);
    set(CURLOPT_WRITEDATA, reply.address());
    set(CURLOPT_HEADERFUNCTION, drop_header);
    set(CURLOPT_ERRORBUFFER, error_buffer);
    set(CURLOPT_URL, url);
    set(CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    set(CURLOPT_POSTFIELDS, body.c_str());
    if (rc != CURLE_OK) {
        TRANSPORT_TRACE("tx_rx_xml_curl", "ERROR in tx_rx_xml_curl() while calling curl_easy_setopt(). CURLcode = %d (0x%08X)",
                        rc, static_cast<unsigned>(rc));
        return -1;
    }
    return 0;
}

// The answer's base64 text: from 11 characters after the first "<xml>" up
// to the first "</tllv>". Empty optional-like result (npos) when a marker is
// missing or the two are out of order.
bool find_answer(std::string_view reply, std::string_view& answer) {
    const size_t start_tag = reply.find(kReplyStart);
    const size_t end = reply.find(kReplyEnd);
    if (start_tag == std::string_view::npos || end == std::string_view::npos) return false;
    const size_t start = start_tag + kEnvelopeOpen.size();
    if (end < start) return false;
    answer = reply.substr(start, end - start);
    return true;
}

}  // namespace

namespace transport_internal {
void set_timeouts(long connect_seconds, long total_seconds) {
    g_connect_timeout = connect_seconds;
    g_total_timeout = total_seconds;
}
}  // namespace transport_internal

char* formEncode(const char* src, char* dst, unsigned int capacity) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    if (!dst || capacity == 0) return dst;
    dst[0] = '\0';
    if (!src || capacity < 4) return dst;
    size_t written = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(src); *p && written < capacity - 4; ++p) {
        if (*p == ' ') {
            dst[written++] = '+';
        } else if (is_kept(*p)) {
            dst[written++] = static_cast<char>(*p);
        } else {
            dst[written++] = '%';
            dst[written++] = kHex[*p >> 4];
            dst[written++] = kHex[*p & 0x0F];
        }
    }
    dst[written] = '\0';
    return dst;
}

size_t appendReplyChunk(char* data, size_t size, size_t count, void* accumulator) {
    const size_t n = size * count;
    char** text = static_cast<char**>(accumulator);
    const size_t kept = data ? strnlen(data, n) : 0;
    const size_t old_length = *text ? std::strlen(*text) : 0;
    if (old_length + kept > static_cast<size_t>(TRANSPORT_MAX_REPLY)) return 0;
    char* grown = static_cast<char*>(std::realloc(*text, old_length + kept + 1));
    if (!grown) return 0;
    std::memcpy(grown + old_length, data, kept);
    grown[old_length + kept] = '\0';
    *text = grown;
    return n;
}

int tx_rx_xml_curl(const char* url, const char* tx, int /*tx_len*/, char* rx, int* rxlen) {
    static constexpr const char* kFn = "tx_rx_xml_curl";
    if (!url) return TRANSPORT_TRACE(kFn, "ERROR in tx_rx_xml_curl(), char * url is NULL"), -1;
    if (!tx) return TRANSPORT_TRACE(kFn, "ERROR in tx_rx_xml_curl(), char * tx is NULL"), -1;
    if (!rx) return TRANSPORT_TRACE(kFn, "ERROR in tx_rx_xml_curl(), char * rx is NULL"), -1;
    if (!rxlen) return TRANSPORT_TRACE(kFn, "ERROR in tx_rx_xml_curl(), int * rxlen is NULL"), -1;

    const std::string body = build_post_body(tx);
    if (body.empty()) return TRANSPORT_TRACE(kFn, "ERROR in tx_rx_xml_curl(), request too long"), -1;

    Accumulator reply;
    char error_buffer[CURL_ERROR_SIZE] = {};
    CurlGlobal global;
    CurlEasy curl(curl_easy_init());
    if (!curl) return TRANSPORT_TRACE(kFn, "ERROR in tx_rx_xml_curl(), CURL * curl is NULL"), -1;
    if (set_options(curl.get(), reply, error_buffer, url, body) != 0) return -1;

    const CURLcode rc = curl_easy_perform(curl.get());
    long status = 0;
    if (rc == CURLE_OK) curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    curl.reset();
    if (rc != CURLE_OK) {
        TRANSPORT_TRACE(kFn, "ERROR in tx_rx_xml_curl(), curl_code = %d, errorbuffer = %s", rc,
                        error_buffer[0] ? error_buffer : curl_easy_strerror(rc));
        return -1;
    }
    // Redirects are not followed, so a 3xx body is no answer of the server's.
    if (status < 200 || status > 299) {
        TRANSPORT_TRACE(kFn, "ERROR in tx_rx_xml_curl(), HTTP status = %ld", status);
        return -1;
    }
    const std::string_view text = reply.view();
    *rxlen = static_cast<int>(text.size());
    if (!text.empty()) std::memcpy(rx, text.data(), text.size());
    TRANSPORT_TRACE(kFn, "16");
    return 0;
}

int java_tx_rx_xml(unsigned char* request, int request_len, unsigned char* reply, int* reply_len) {
    static constexpr const char* kFn = "java_tx_rx_xml";
    if (!reply || !reply_len) return TRANSPORT_TRACE(kFn, "ERROR in java_tx_rx_xml(), reply buffer is NULL"), -1;
    std::memset(reply, 0, EID_REPLY_BUFFER_SIZE);
    *reply_len = 0;
    if (request_len > TRANSPORT_MAX_REQUEST_TLLV || (request_len > 0 && !request)) {
        return TRANSPORT_TRACE(kFn, "ERROR in java_tx_rx_xml(), request of %d bytes refused", request_len), -1;
    }

    std::string xml;
    if (request_len > 0) {
        std::string base64(base64_encoded_size(static_cast<size_t>(request_len)), '\0');
        int base64_len = 0;
        const int rc = dataToBase64(request, static_cast<unsigned>(request_len), base64.data(), &base64_len,
                                    base64.size());
        if (rc != 0) return TRANSPORT_TRACE(kFn, "ERROR in java_tx_rx_xml(...) while calling dataToBase64(...)"), rc;
        base64.resize(static_cast<size_t>(base64_len));
        if (!base64.empty()) xml = std::string(kEnvelopeOpen) + base64 + std::string(kEnvelopeClose);
    }

    std::string received(TRANSPORT_MAX_REPLY + 1, '\0');
    int received_len = 0;
    const int rc = tx_rx_xml_curl(server_url, xml.c_str(), static_cast<int>(xml.size()), received.data(), &received_len);
    if (rc != 0) return TRANSPORT_TRACE(kFn, "ERROR in java_tx_rx_xml() while calling tx_rx_xml_curl()"), rc;
    return transport_internal::decode_reply(std::string_view(received.data(), static_cast<size_t>(received_len)),
                                            reply, reply_len);
}

namespace transport_internal {
int decode_reply(std::string_view body, unsigned char* reply, int* reply_len) {
    static constexpr const char* kFn = "java_tx_rx_xml";
    if (body.size() <= static_cast<size_t>(kEmptyReplyMax)) return 0;
    std::string_view answer;
    if (!find_answer(body, answer)) {
        return TRANSPORT_TRACE(kFn, "ERROR in java_tx_rx_xml(), reply without \"<xml><tllv>\" ... \"</tllv>\""), -1;
    }
    const std::string base64(answer);
    const int decoded = base64ToData(base64.c_str(), static_cast<unsigned>(base64.size()), reply, reply_len,
                                     EID_REPLY_BUFFER_SIZE);
    if (decoded != 0) TRANSPORT_TRACE(kFn, "ERROR in java_tx_rx_xml(...) while calling base64ToData(...)");
    return decoded;
}
}  // namespace transport_internal
