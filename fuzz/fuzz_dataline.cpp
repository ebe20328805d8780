// A data-file line read back with a standard CSV reading gives the entry and four numbers.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "output/DataFile.h"

namespace {

class StringSink : public pelmora::output::DataSink {
  public:
    std::string bytes;
    void write(std::string_view b) override { bytes.append(b); }
    void close() override {}
};

// RFC 4180 fields of one record ending in CR LF.
bool parseCsv(const std::string& line, std::vector<std::string>& fields) {
    if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) return false;
    const std::string body = line.substr(0, line.size() - 2);
    std::string cur;
    bool quoted = false, wasQuoted = false;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < body.size() && body[i + 1] == '"') {
                    cur.push_back('"');
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                cur.push_back(c);
            }
        } else if (c == '"' && cur.empty() && !wasQuoted) {
            quoted = wasQuoted = true;
        } else if (c == ',') {
            fields.push_back(cur);
            cur.clear();
            wasQuoted = false;
        } else {
            cur.push_back(c);
        }
    }
    if (quoted) return false;
    fields.push_back(cur);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 16) return 0;
    std::int64_t a, b, c;
    std::memcpy(&a, data, 8);
    std::memcpy(&b, data + 8, 8);
    c = a ^ b;
    // Entries never hold CR or LF: the list file cannot store them.
    std::string entry(reinterpret_cast<const char*>(data) + 16, size - 16);
    for (char& ch : entry)
        if (ch == '\r' || ch == '\n') ch = ' ';
    pelmora::output::LineFigures f;
    f.dirCount = a;
    f.fileCount = b;
    f.byteTotal = pelmora::stats::Real48::fromInt(c);
    f.overhead = a / 3;
    StringSink sink;
    pelmora::output::writeDataLine(sink, entry, f);
    std::vector<std::string> fields;
    if (!parseCsv(sink.bytes, fields) || fields.size() != 5) std::abort();
    if (fields[0] != entry) std::abort();
    if (fields[1] != std::to_string(a) || fields[2] != std::to_string(b)) std::abort();
    if (fields[3] != f.byteTotal.toFixed0() || fields[4] != std::to_string(a / 3)) std::abort();
    return 0;
}
