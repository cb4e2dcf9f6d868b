#include "test_auth_server.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <openssl/evp.h>

#include <httplib.h>

namespace testserver {
namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string form_decode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string unbase64(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0) return {};
    std::string out(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) return {};
    size_t padding = 0;
    if (text.back() == '=') ++padding;
    if (text.size() > 1 && text[text.size() - 2] == '=') ++padding;
    out.resize(static_cast<size_t>(n) - padding);
    return out;
}

RecordedRequest decode_request(const std::string& body) {
    RecordedRequest r{body, {}, {}, {}, true};
    std::string field = body;
    if (field.rfind("xml=", 0) == 0) field.erase(0, 4);
    if (field.size() >= 2 && field.compare(field.size() - 2, 2, "\r\n") == 0) field.resize(field.size() - 2);
    r.xml = form_decode(field);
    const std::string open = "<xml><tllv>", close = "</tllv></xml>";
    if (r.xml.rfind(open, 0) == 0 && r.xml.size() >= open.size() + close.size()) {
        r.tllv = unbase64(r.xml.substr(open.size(), r.xml.size() - open.size() - close.size()));
    }
    size_t i = 0;
    while (i < r.tllv.size()) {
        if (i + 3 > r.tllv.size()) { r.items_complete = false; break; }
        const auto tag = static_cast<uint8_t>(r.tllv[i]);
        const size_t len = static_cast<uint8_t>(r.tllv[i + 1]) | (static_cast<size_t>(static_cast<uint8_t>(r.tllv[i + 2])) << 8);
        if (i + 3 + len > r.tllv.size()) { r.items_complete = false; break; }
        r.items.push_back({tag, r.tllv.substr(i + 3, len)});
        i += 3 + len;
    }
    return r;
}

}  // namespace

std::string base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string envelope(const std::string& tllv) { return "<xml><tllv>" + base64(tllv) + "</tllv></xml>"; }

std::string tllv_item(uint8_t tag, const std::string& value) {
    std::string item;
    item += static_cast<char>(tag);
    item += static_cast<char>(value.size() & 0xFF);
    item += static_cast<char>((value.size() >> 8) & 0xFF);
    return item + value;
}

bool TestCertificates::make(const std::string& dir) {
    ca_pem = dir + "/ca.pem";
    server_pem = dir + "/server.pem";
    server_key = dir + "/server.key";
    const std::string ca_key = dir + "/ca.key", csr = dir + "/server.csr", ext = dir + "/server.ext";
    const std::string quiet = " >/dev/null 2>&1";
    const std::string commands[] = {
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Test Root' -keyout " + ca_key + " -out " + ca_pem,
        "openssl req -newkey rsa:2048 -nodes -subj '/CN=localhost' -keyout " + server_key + " -out " + csr,
        "openssl x509 -req -in " + csr + " -CA " + ca_pem + " -CAkey " + ca_key +
            " -CAcreateserial -days 2 -extfile " + ext + " -out " + server_pem,
    };
    std::ofstream(ext) << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    for (const auto& c : commands) {
        if (std::system((c + quiet).c_str()) != 0) return false;
    }
    return true;
}

struct TestAuthServer::Impl {
    std::unique_ptr<httplib::Server> server;
    mutable std::mutex mutex;
    std::deque<ScriptedReply> replies;
    std::vector<RecordedRequest> requests;
};

TestAuthServer::TestAuthServer() : impl_(std::make_unique<Impl>()) {}

TestAuthServer::~TestAuthServer() { stop(); }

bool TestAuthServer::start(const std::string& cert_pem, const std::string& key_pem, int max_tls_version) {
    https_ = !cert_pem.empty();
    if (https_ && max_tls_version != 0) {
        // An old protocol needs security level 0 on this side.
        impl_->server = std::make_unique<httplib::SSLServer>([=](SSL_CTX& ctx) {
            SSL_CTX_set_security_level(&ctx, 0);
            return SSL_CTX_set_max_proto_version(&ctx, max_tls_version) == 1 &&
                   SSL_CTX_use_certificate_chain_file(&ctx, cert_pem.c_str()) == 1 &&
                   SSL_CTX_use_PrivateKey_file(&ctx, key_pem.c_str(), SSL_FILETYPE_PEM) == 1;
        });
    } else if (https_) {
        impl_->server = std::make_unique<httplib::SSLServer>(cert_pem.c_str(), key_pem.c_str());
    } else {
        impl_->server = std::make_unique<httplib::Server>();
    }
    if (!impl_->server->is_valid()) return false;
    // Read the body ourselves: the library refuses form bodies over 8 KiB.
    impl_->server->Post(".*", [this](const httplib::Request&, httplib::Response& res,
                                     const httplib::ContentReader& read) {
        std::string body;
        read([&body](const char* data, size_t length) {
            body.append(data, length);
            return true;
        });
        ScriptedReply reply;
        {
            std::lock_guard lock(impl_->mutex);
            impl_->requests.push_back(decode_request(body));
            if (!impl_->replies.empty()) {
                reply = impl_->replies.front();
                impl_->replies.pop_front();
            }
        }
        if (reply.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.delay_ms));
        res.status = reply.status;
        for (const auto& [name, value] : reply.headers) res.set_header(name, value);
        res.set_content(reply.body, "text/xml");
    });
    port_ = impl_->server->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return false;
    thread_ = std::thread([this] { impl_->server->listen_after_bind(); });
    return true;
}

void TestAuthServer::stop() {
    if (impl_->server) impl_->server->stop();
    if (thread_.joinable()) thread_.join();
}

std::string TestAuthServer::url(const std::string& path) const {
    return std::string(https_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

void TestAuthServer::script(ScriptedReply reply) {
    std::lock_guard lock(impl_->mutex);
    impl_->replies.push_back(std::move(reply));
}

std::vector<RecordedRequest> TestAuthServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

}  // namespace testserver
