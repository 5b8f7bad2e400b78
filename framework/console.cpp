// Byte-oriented console writes shared by the log and the entry point.
#include "framework/console.h"

#include <climits>
#include <cstdint>
#include <cwchar>

#include "framework/file_io.h"

namespace hbafw {

std::string NarrowForConsole(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (wchar_t c : text) {
        // wchar_t is signed on x86_64 and unsigned on arm64: comparing the
        // unsigned value keeps negative code units out on both.
        if (static_cast<std::uint32_t>(c) < 0x100) {
            out.push_back(static_cast<char>(static_cast<unsigned char>(c)));
            continue;
        }
        std::size_t n = std::wcrtomb(buffer, c, &state);
        if (n == static_cast<std::size_t>(-1)) {
            state = std::mbstate_t{};
            out.push_back('?');
        } else {
            out.append(buffer, n);
        }
    }
    return out;
}

void ConsoleWrite(std::string_view text, std::FILE* stream) {
    // Straight to the descriptor, unbuffered: an operator watching a long flash
    // sees each line at once, and a failed write leaves nothing queued in stdio
    // to fail again later. What cannot be written is dropped.
    std::fflush(stream);
    int fd = ::fileno(stream);
    if (fd >= 0) WriteAll(fd, text);
}

void ConsoleWrite(std::wstring_view text, std::FILE* stream) { ConsoleWrite(NarrowForConsole(text), stream); }

}  // namespace hbafw
