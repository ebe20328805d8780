#include "cli/json.h"

#include <cstdint>

#include "platform/locale.h"

namespace pelmora::cli {

namespace {

// The length of the valid UTF-8 sequence at the start of `s`, or 0 (overlong forms, surrogates
// and values above U+10FFFF are not valid).
std::size_t sequenceLength(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    std::size_t n = 0;
    std::uint32_t v = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        v = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        v = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        v = c & 0x07;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        v = (v << 6) | (b(i) & 0x3F);
    }
    if ((n == 3 && v < 0x800) || (n == 4 && v < 0x10000) || v > 0x10FFFF ||
        (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    return n;
}

}  // namespace

std::string jsonString(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string s = "\"";
    while (!bytes.empty()) {
        const std::size_t n = sequenceLength(bytes);
        const unsigned char c = static_cast<unsigned char>(bytes[0]);
        if (n == 0) {
            s += "\xEF\xBF\xBD";  // U+FFFD
            bytes.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            s += '\\';
            s += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            s += "\\u00";
            s += kHex[c >> 4];
            s += kHex[c & 15];
        } else {
            s.append(bytes.substr(0, n));
        }
        bytes.remove_prefix(n);
    }
    return s + '"';
}

std::string replaceInvalidUtf8(std::string_view bytes) {
    std::string s;
    s.reserve(bytes.size());
    while (!bytes.empty()) {
        const std::size_t n = sequenceLength(bytes);
        if (n == 0) {
            s += "\xEF\xBF\xBD";  // U+FFFD
            bytes.remove_prefix(1);
        } else {
            s.append(bytes.substr(0, n));
            bytes.remove_prefix(n);
        }
    }
    return s;
}

std::string base64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16 |
                                static_cast<unsigned char>(bytes[i + 1]) << 8 |
                                static_cast<unsigned char>(bytes[i + 2]);
        for (int k = 18; k >= 0; k -= 6) s += kAlphabet[(v >> k) & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        s += kAlphabet[(v >> 18) & 63];
        s += kAlphabet[(v >> 12) & 63];
        s += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        s += '=';
    }
    return s;
}

std::string jsonPathMembers(std::string_view key, std::string_view path) {
    std::string s = "\"" + std::string(key) + "\": " + jsonString(path);
    if (!platform::validUtf8(path))
        s += ", \"" + std::string(key) + "_bytes\": \"" + base64(path) + "\"";
    return s;
}

}  // namespace pelmora::cli
