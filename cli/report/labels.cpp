#include "report/labels.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zeverive::cli {

std::string cp932_to_utf8(const char* text) {
    if (!text) return {};
    iconv_t converter = iconv_open("UTF-8", "CP932");
    size_t in_left = std::strlen(text);
    char* in = const_cast<char*>(text);
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        // Without the conversion table, plain ASCII is still readable.
        std::string escaped;
        for (; *in; ++in) {
            const unsigned char c = static_cast<unsigned char>(*in);
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            escaped += c < 0x80 ? std::string(1, *in) : std::string(hex);
        }
        return escaped;
    }
    std::string result;
    char out_buffer[256];
    while (in_left > 0) {
        char* out = out_buffer;
        size_t out_left = sizeof out_buffer;
        const size_t done = iconv(converter, &in, &in_left, &out, &out_left);
        result.append(out_buffer, out - out_buffer);
        if (done == static_cast<size_t>(-1) && errno != E2BIG) {
            // An invalid or incomplete sequence: show its first byte, go on.
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(*in));
            result += hex;
            ++in;
            --in_left;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(converter);
    return result;
}

}  // namespace zeverive::cli
