// What a test inside the pcscd rig needs: its readers and ports, a virtual
// card it starts and controls, waiting for pcscd to see the card, and a
// scratch folder.
#ifndef KIT_TESTS_RIG_SUPPORT_H
#define KIT_TESTS_RIG_SUPPORT_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace kit::rig {

// Reader entries from KIT_RIG_READERS, in order.
std::vector<std::string> reader_entries();
// vpcd port of entry index (slot 0).
int port_of(std::size_t index);
// PC/SC name of slot 0 of an entry: "NAME 00 00".
std::string slot_name(const std::string& entry);
// A folder of this test's own, removed by the rig (or made under TMPDIR).
std::string scratch_dir();
// Makes a fresh test PKI with the card files in dir (created when missing),
// with keys of that many bits; false when the tool failed.
bool make_test_pki(const std::string& dir, int bits = 1024);

// kit-vcard on a port, logging to its own file; stopped on destruction.
class VirtualCard {
public:
    VirtualCard(int port, std::vector<std::string> args = {});
    ~VirtualCard();
    VirtualCard(const VirtualCard&) = delete;
    VirtualCard& operator=(const VirtualCard&) = delete;

    void remove();  // closes its link: the card leaves the reader
    void insert();  // connects again
    std::string log() const;
    const std::string& log_path() const { return log_path_; }

private:
    pid_t pid_ = -1;
    int port_;
    std::string log_path_;
};

// Waits until pcscd reports a card in reader (present true) or none
// (present false). false on time-out.
bool wait_for_card(const std::string& reader, bool present, int timeout_ms = 5000);

// Everything traced while it lives, from a trace file of its own.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
    std::string text() const;

private:
    std::string path_;
};

}  // namespace kit::rig

#endif
