// Demo host: writes a few lines and a hex dump through orvel to a log file,
// then prints the file.
#include "orvel.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

int main() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kit-demo-log.txt";
    std::remove(path.c_str());

    // The usual options, plus the name of the program that wrote each line.
    __settraceopts(0xFF | ORVEL_OPT_MODULE);
    __settracelevel(ORVEL_FULL);
    __settracefile(path.c_str());
    __trace(ORVEL_NOTICE, "main", __FILE__, __LINE__, __tracev("kit demo started, log %s", path.c_str()));
    __tracef(ORVEL_DEBUG, "main", __FILE__, __LINE__, "tabs\tand newlines\nare escaped");
    const unsigned char atr[] = {0x3B, 0x98, 0x13, 0x40, 0x0A, 0xA5, 0x03, 0x01, 0x01, 0x01, 0xAD, 0x13, 0x11};
    __tracef(ORVEL_INFO, "main", __FILE__, __LINE__, "an eID-like ATR of %zu bytes:", sizeof atr);
    __xdump(ORVEL_INFO, "main", __FILE__, __LINE__, atr, sizeof atr);
    __trace(ORVEL_ERR, "main", __FILE__, __LINE__, __tracev("an error line, level %u", ORVEL_ERR));
    __closetracefile();

    std::ifstream in(path);
    if (!in) {
        std::cerr << "demo: log file " << path << " was not written\n";
        return 1;
    }
    std::cout << "--- " << path << " ---\n" << in.rdbuf();
    return 0;
}
