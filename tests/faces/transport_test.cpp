// The server exchange against a scripted loopback server.
#include "tarvik/faces/server_transport.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include "test_auth_server.h"

namespace fs = std::filesystem;
using testserver::ScriptedReply;
using testserver::TestAuthServer;

namespace {

void set_url(const std::string& url) {
    ASSERT_LT(url.size(), sizeof server_url);
    std::memset(server_url, 0, sizeof server_url);
    std::memcpy(server_url, url.data(), url.size());
}

struct Exchange {
    int rc;
    std::string answer;
};

// The decoder counts "=" padding as zero bytes, so an answer of n bytes comes
// back as n bytes followed by the padding's zeros.
std::string padded(const std::string& answer) {
    return answer + std::string((3 - answer.size() % 3) % 3, '\0');
}

Exchange exchange(const std::string& request) {
    std::string reply(16384, 'x');
    int reply_len = -7;
    std::string req = request;
    const int rc = java_tx_rx_xml(reinterpret_cast<unsigned char*>(req.data()), static_cast<int>(req.size()),
                                  reinterpret_cast<unsigned char*>(reply.data()), &reply_len);
    EXPECT_GE(reply_len, 0);
    EXPECT_TRUE(reply.find_first_not_of('\0', static_cast<size_t>(std::max(reply_len, 0))) == std::string::npos)
        << "reply buffer not zero-filled past the answer";
    return {rc, reply.substr(0, static_cast<size_t>(std::max(reply_len, 0)))};
}

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("CURL_CA_BUNDLE");
        transport_internal::set_timeouts(5, 10);
        ASSERT_TRUE(server.start());
        set_url(server.url());
    }
    TestAuthServer server;
};

const std::string kRequest = testserver::tllv_item(1, std::string("\x49\x12\x10\x00", 4)) +
                             testserver::tllv_item(4, "0123456789abcdef0123456789ABCDEF");

}  // namespace

TEST_F(TransportTest, RequestIsDecodableAndAnswerComesBack) {
    const std::string answer = testserver::tllv_item(2, "reference") + testserver::tllv_item(86, std::string(4, '\1'));
    server.script({200, testserver::envelope(answer)});
    const Exchange e = exchange(kRequest);
    ASSERT_EQ(e.rc, 0);
    EXPECT_EQ(e.answer, padded(answer));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body.substr(0, 4), "xml=");
    EXPECT_EQ(requests[0].body.substr(requests[0].body.size() - 2), "\r\n");
    EXPECT_EQ(requests[0].xml, testserver::envelope(kRequest));
    ASSERT_TRUE(requests[0].items_complete);
    ASSERT_EQ(requests[0].items.size(), 2u);
    EXPECT_EQ(requests[0].items[1].tag, 4);
    EXPECT_EQ(requests[0].items[1].value, "0123456789abcdef0123456789ABCDEF");
    // The envelope's markup and base64 punctuation travel escaped.
    EXPECT_NE(requests[0].body.find("%3Cxml%3E%3Ctllv%3E"), std::string::npos);
    EXPECT_EQ(requests[0].body.find('<'), std::string::npos);
}

TEST_F(TransportTest, EmptyRequestPostsBareFieldAndShortReplyIsEmptyAnswer) {
    server.script({200, "<xml><tllv></tllv></xml>\n"});  // 25 bytes
    const Exchange e = exchange("");
    EXPECT_EQ(e.rc, 0);
    EXPECT_TRUE(e.answer.empty());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].body, "xml=\r\n");
}

TEST_F(TransportTest, TextBeforeTheEnvelopeIsSkipped) {
    const std::string answer = testserver::tllv_item(4, "ID-1");
    server.script({200, "<?xml version=\"1.0\"?>\n" + testserver::envelope(answer)});
    const Exchange e = exchange(kRequest);
    ASSERT_EQ(e.rc, 0);
    EXPECT_EQ(e.answer, padded(answer));
}

TEST_F(TransportTest, RepliesWithoutTheirMarkersFail) {
    const std::string b64 = testserver::base64(testserver::tllv_item(4, "ID-1"));
    const std::string bodies[] = {
        "no envelope at all, but longer than 25 bytes",   // 26 bytes and more: parsed
        "<xml><tllv>" + b64 + "</tl lv></xml>",           // no end marker
        "<x ml><tllv>" + b64 + "</tllv></xml>",           // no start marker
        "</tllv><xml><tllv>" + b64,                       // reversed
        "<xml></tllv>" + b64 + "AAAAAAAAAAAAAAAA",        // end inside the 11 characters
    };
    for (const auto& body : bodies) {
        server.script({200, body});
        EXPECT_EQ(exchange(kRequest).rc, -1) << body;
    }
}

TEST_F(TransportTest, ZeroByteInBodyKeepsTheTextBeforeIt) {
    const std::string answer = testserver::tllv_item(4, "ID-2");
    server.script({200, testserver::envelope(answer) + std::string(1, '\0') + "trailing garbage"});
    const Exchange e = exchange(kRequest);
    ASSERT_EQ(e.rc, 0);
    EXPECT_EQ(e.answer, padded(answer));
}

TEST_F(TransportTest, OversizedReplyFails) {
    server.script({200, testserver::envelope(std::string(12400, 'A'))});  // > 16,383 characters
    EXPECT_EQ(exchange(kRequest).rc, -1);
    server.script({200, "pre<xml><tllv>" + std::string(16383 - 27, 'A') + "</tllv></xml>"});  // exactly 16,383
    EXPECT_EQ(exchange(kRequest).rc, 0);
}

TEST_F(TransportTest, HeadersDoNotCountAgainstTheReplyLimit) {
    // Some 24,000 header bytes beside a body well under the limit.
    testserver::ScriptedReply reply{200, testserver::envelope("answer")};
    for (int i = 0; i < 6; ++i) reply.headers.emplace_back("X-Kit-Padding-" + std::to_string(i), std::string(4000, 'h'));
    server.script(reply);
    const Exchange e = exchange(kRequest);
    EXPECT_EQ(e.rc, 0);
    EXPECT_EQ(e.answer, padded("answer"));
}

TEST_F(TransportTest, HttpErrorStatusFails) {
    server.script({500, testserver::envelope(testserver::tllv_item(4, "ID-3"))});
    EXPECT_EQ(exchange(kRequest).rc, -1);
    server.script({404, "<xml><tllv></tllv></xml>"});
    EXPECT_EQ(exchange(kRequest).rc, -1);
}

TEST_F(TransportTest, OnlyASuccessStatusIsTheServersAnswer) {
    const std::string answer = testserver::tllv_item(4, "ID-4");
    const std::vector<std::pair<std::string, std::string>> elsewhere{{"Location", "/elsewhere"}};
    server.script({302, testserver::envelope(answer), 0, elsewhere});
    EXPECT_EQ(exchange(kRequest).rc, -1);
    server.script({302, "", 0, elsewhere});
    EXPECT_EQ(exchange(kRequest).rc, -1);
    // Followed, a 307 would post once more, to /elsewhere.
    server.script({307, testserver::envelope(answer), 0, elsewhere});
    EXPECT_EQ(exchange(kRequest).rc, -1);
    EXPECT_EQ(server.requests().size(), 3u);

    server.script({200, testserver::envelope(answer)});
    const Exchange e = exchange(kRequest);
    EXPECT_EQ(e.rc, 0);
    EXPECT_EQ(e.answer, padded(answer));
}

TEST_F(TransportTest, OversizedRequestIsRefusedBeforeSending) {
    EXPECT_EQ(exchange(std::string(TRANSPORT_MAX_REQUEST_TLLV + 1, 'r')).rc, -1);
    EXPECT_TRUE(server.requests().empty());
    // The largest request still fits the envelope whole.
    server.script({200, "<xml><tllv></tllv></xml>"});
    EXPECT_EQ(exchange(std::string(TRANSPORT_MAX_REQUEST_TLLV, 'r')).rc, 0);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].tllv, std::string(TRANSPORT_MAX_REQUEST_TLLV, 'r'));
}

TEST_F(TransportTest, RequestWhoseFormEncodingWouldNotFitIsRefusedBeforeSending) {
    // 0xFF bytes are "/" in base64, three characters once form-encoded: the
    // XML is far below its limit while the form-encoded text is not. 5,106
    // bytes encode to 20,469 characters with the envelope, 5,109 to 20,481.
    const std::string fits(5106, '\xFF'), too_big(5109, '\xFF');
    ASSERT_LT(too_big.size() * 4 / 3 + 24, static_cast<std::size_t>(TRANSPORT_MAX_REQUEST_XML));
    EXPECT_EQ(exchange(too_big).rc, -1);
    EXPECT_TRUE(server.requests().empty());

    server.script({200, "<xml><tllv></tllv></xml>"});
    EXPECT_EQ(exchange(fits).rc, 0);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].tllv, fits);
    EXPECT_NE(server.requests()[0].body.find("%2F%2F%2F%2F%3C%2Ftllv%3E%3C%2Fxml%3E\r\n"), std::string::npos);
}

TEST_F(TransportTest, StalledServerEndsWithinTheTimeOut) {
    transport_internal::set_timeouts(1, 1);
    server.script({200, testserver::envelope("late"), 3000});
    EXPECT_EQ(exchange(kRequest).rc, -1);
}

TEST(TransportFailures, ClosedPortAndForeignSchemesFail) {
    // A port that was bound and closed again has no listener.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    close(fd);
    transport_internal::set_timeouts(5, 10);
    set_url("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/auth");
    EXPECT_EQ(exchange(kRequest).rc, -1);

    for (const char* url : {"file:///etc/hostname", "ftp://127.0.0.1/x", "dict://127.0.0.1/x", ""}) {
        set_url(url);
        EXPECT_EQ(exchange(kRequest).rc, -1) << url;
    }
}

TEST(TransportHttps, ServerIsVerifiedAgainstTheGivenCa) {
    char tmpl[] = "/tmp/transport-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    testserver::TestCertificates certs;
    ASSERT_TRUE(certs.make(dir));
    TestAuthServer server;
    ASSERT_TRUE(server.start(certs.server_pem, certs.server_key));
    transport_internal::set_timeouts(5, 10);
    set_url(server.url());
    const std::string answer = testserver::tllv_item(4, "ID-TLS");

    unsetenv("CURL_CA_BUNDLE");  // the system store does not know the test CA
    server.script({200, testserver::envelope(answer)});
    EXPECT_EQ(exchange(kRequest).rc, -1);

    setenv("CURL_CA_BUNDLE", certs.ca_pem.c_str(), 1);
    server.script({200, testserver::envelope(answer)});
    const Exchange e = exchange(kRequest);
    EXPECT_EQ(e.rc, 0);
    EXPECT_EQ(e.answer, padded(answer));

    // The certificate names 127.0.0.1 and localhost only.
    set_url("https://127.0.0.2:" + std::to_string(server.port()) + "/auth");
    EXPECT_EQ(exchange(kRequest).rc, -1);
    unsetenv("CURL_CA_BUNDLE");
    server.stop();
    fs::remove_all(dir);
}

// Run with a system policy that lets OpenSSL speak TLS 1.0 and 1.1 (see
// CMakeLists.txt): the transport itself must still refuse them.
TEST(TransportOldTls, ServerOfferingOnlyTlsOnePointOneIsRefused) {
    char tmpl[] = "/tmp/transport-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    testserver::TestCertificates certs;
    ASSERT_TRUE(certs.make(dir));
    setenv("CURL_CA_BUNDLE", certs.ca_pem.c_str(), 1);
    transport_internal::set_timeouts(5, 10);
    const std::string answer = testserver::tllv_item(4, "ID-TLS");
    {
        TestAuthServer old_server;
        ASSERT_TRUE(old_server.start(certs.server_pem, certs.server_key, TLS1_1_VERSION));
        set_url(old_server.url());
        old_server.script({200, testserver::envelope(answer)});
        EXPECT_EQ(exchange(kRequest).rc, -1);
        EXPECT_TRUE(old_server.requests().empty());
    }
    TestAuthServer server;
    ASSERT_TRUE(server.start(certs.server_pem, certs.server_key, TLS1_2_VERSION));
    set_url(server.url());
    server.script({200, testserver::envelope(answer)});
    EXPECT_EQ(exchange(kRequest).rc, 0);
    unsetenv("CURL_CA_BUNDLE");
    server.stop();
    fs::remove_all(dir);
}

TEST(FormEncode, KeepsTheSafeSetAndEscapesTheRest) {
    char out[64];
    EXPECT_STREQ(formEncode("a b=c-d.e:f;g,h+/<>\xE9", out, sizeof out), "a+b%3Dc-d.e:f;g,h%2B%2F%3C%3E%E9");
    EXPECT_STREQ(formEncode(nullptr, out, sizeof out), "");
}

TEST(FormEncode, StopsBeforeTheEndOfTheBuffer) {
    char out[12];
    std::memset(out, '#', sizeof out);
    // Encoding goes on while fewer than capacity - 4 characters are written,
    // so an escape begun at capacity - 5 still ends before the terminator.
    formEncode("ab<<<<<<<<<<", out, 10);
    EXPECT_STREQ(out, "ab%3C%3C");
    EXPECT_EQ(out[10], '#');
    formEncode("<<<<<<<<<<<<<<<<", out, 10);
    EXPECT_STREQ(out, "%3C%3C");
    formEncode("abcdefghijklmnop", out, 10);
    EXPECT_STREQ(out, "abcdef");
}
