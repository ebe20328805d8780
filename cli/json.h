// JSON text (RFC 8259) for paths that are bytes. A path that is valid UTF-8 is written as a
// string as it is (quotes, backslashes and control characters escaped); one that is not gets
// its string with U+FFFD in place of each byte that does not belong to a valid UTF-8 sequence,
// and the caller adds "path_bytes": the base64 (RFC 4648, with padding) of the raw bytes, from
// which the path is recovered exactly.
#pragma once

#include <string>
#include <string_view>

namespace pelmora::cli {

// `bytes` as a JSON string, quotes included.
std::string jsonString(std::string_view bytes);
std::string base64(std::string_view bytes);
// `bytes` with U+FFFD in place of each byte that does not belong to a valid UTF-8 sequence.
std::string replaceInvalidUtf8(std::string_view bytes);
// `"key": "path"`, and `, "key_bytes": "BASE64"` when the path is not valid UTF-8.
std::string jsonPathMembers(std::string_view key, std::string_view path);

}  // namespace pelmora::cli
