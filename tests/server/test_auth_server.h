// A scripted authentication server for tests: listens on loopback over HTTP
// or HTTPS, decodes what each exchange posts (form body, base64, TLLV items),
// records it, and answers with the next scripted reply.
#ifndef TESTS_SERVER_TEST_AUTH_SERVER_H
#define TESTS_SERVER_TEST_AUTH_SERVER_H

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testserver {

struct TllvItem {
    uint8_t tag;
    std::string value;
};

struct RecordedRequest {
    std::string body;       // raw POST body
    std::string xml;        // the form field "xml", decoded
    std::string tllv;       // the TLLV bytes inside the envelope
    std::vector<TllvItem> items;
    bool items_complete;    // false when the TLLV bytes ended inside an item
};

struct ScriptedReply {
    int status = 200;
    std::string body;
    int delay_ms = 0;  // stall before answering
    std::vector<std::pair<std::string, std::string>> headers = {};  // sent besides the usual ones
};

// The reply envelope around TLLV bytes, as the server sends it.
std::string envelope(const std::string& tllv);
// One TLLV item: tag, 2-byte little-endian length, value.
std::string tllv_item(uint8_t tag, const std::string& value);
std::string base64(const std::string& bytes);

// Files of a throw-away CA and a server certificate for 127.0.0.1/localhost.
struct TestCertificates {
    std::string ca_pem, server_pem, server_key;
    // Made with the openssl command in dir; false when that failed.
    bool make(const std::string& dir);
};

class TestAuthServer {
public:
    TestAuthServer();
    ~TestAuthServer();
    TestAuthServer(const TestAuthServer&) = delete;
    TestAuthServer& operator=(const TestAuthServer&) = delete;

    // Starts on 127.0.0.1 and an ephemeral port; HTTPS when cert/key given,
    // speaking at most max_tls_version (an OpenSSL TLS1_x_VERSION; 0: no
    // limit) when it is set.
    bool start(const std::string& cert_pem = {}, const std::string& key_pem = {}, int max_tls_version = 0);
    void stop();
    int port() const { return port_; }
    std::string url(const std::string& path = "/auth") const;

    void script(ScriptedReply reply);
    std::vector<RecordedRequest> requests() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::thread thread_;
    int port_ = 0;
    bool https_ = false;
};

}  // namespace testserver

#endif
