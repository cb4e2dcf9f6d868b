// HTTP(S) exchange with the authentication server.
//
// The TLLV request travels base64-encoded in "<xml><tllv>...</tllv></xml>",
// posted as the form field "xml" (followed by "\r\n") to server_url; the
// answer is the base64 text between "<xml>"+11 and the first "</tllv>" of
// the reply body.
//
// Limits: a request of at most TRANSPORT_MAX_REQUEST_TLLV TLLV bytes (its XML
// holds at most 16,383 characters); a reply body of at most
// TRANSPORT_MAX_REPLY bytes (the reply headers are dropped and do not count).
// Anything larger fails the exchange (-1); nothing is ever cut to fit.
//
// The server is verified (peer and host name) against the system's CA store,
// or the PEM file named by the environment variable CURL_CA_BUNDLE; TLS
// below 1.2 is refused. Only http:// and https:// URLs are used. Only a 2xx
// HTTP status is the server's answer: any other fails the exchange, and
// redirects are not followed.
#ifndef TARVIK_FACES_SERVER_TRANSPORT_H
#define TARVIK_FACES_SERVER_TRANSPORT_H

#include <cstddef>
#include <string_view>

inline constexpr int TRANSPORT_URL_SIZE = 1024;
inline constexpr int TRANSPORT_MAX_REQUEST_TLLV = 12267;
inline constexpr int TRANSPORT_MAX_REQUEST_XML = 16383;
inline constexpr int TRANSPORT_MAX_REPLY = 16383;
inline constexpr int TRANSPORT_FORM_CAPACITY = 20480;

// The server URL (at most 1,023 characters); written by the faces.
extern char server_url[TRANSPORT_URL_SIZE];

// The communication callback of the online faces. reply must hold 16,384
// bytes. Returns 0 (an empty answer when the reply body is 25 bytes or
// shorter), or the failing step's code: -1 for a failed transfer, a refused
// request or a reply without its markers, the base64 codec's -1 otherwise.
int java_tx_rx_xml(unsigned char* request, int request_len, unsigned char* reply, int* reply_len);

// Posts "xml=" + formEncode(tx) + "\r\n" to url; the reply body (at most
// TRANSPORT_MAX_REPLY bytes, no terminator added) goes to rx, which must hold
// TRANSPORT_MAX_REPLY + 1 bytes. Returns 0 or -1.
int tx_rx_xml_curl(const char* url, const char* tx, int tx_len, char* rx, int* rxlen);

// Form-encodes src into dst (capacity bytes): a blank becomes "+", letters,
// digits and ".-:;," stay, every other byte becomes "%XX". Stops when fewer
// than 4 bytes of room remain; dst is always terminated. Returns dst.
char* formEncode(const char* src, char* dst, unsigned int capacity);

// libcurl write callback of the reply body: appends the chunk (up to its first zero
// byte) to the heap text *(char**)accumulator. Returns size * count, or 0
// (ending the transfer) when the text would exceed TRANSPORT_MAX_REPLY bytes
// or memory runs out.
size_t appendReplyChunk(char* data, size_t size, size_t count, void* accumulator);

namespace transport_internal {
// Time-outs in seconds (defaults: connect 15, whole exchange 60); a seam for
// tests that stall the server.
void set_timeouts(long connect_seconds, long total_seconds);
// The answer of a reply body, as java_tx_rx_xml takes it: nothing for a body
// of 25 bytes or fewer, else the base64 text between the markers decoded
// into reply (EID_REPLY_BUFFER_SIZE bytes, zeroed by the caller). 0, -1 for
// a missing marker, or the base64 codec's result.
int decode_reply(std::string_view body, unsigned char* reply, int* reply_len);
}  // namespace transport_internal

#endif
