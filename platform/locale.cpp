#include "platform/locale.h"

#include <langinfo.h>
#include <locale.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace pelmora::platform {

char localeThousandsSeparator() {
    locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return ',';
    const char* sep = nl_langinfo_l(THOUSEP, loc);
    const char c = (sep != nullptr && std::strlen(sep) == 1) ? sep[0] : ',';
    freelocale(loc);
    return c;
}

namespace {

class SystemLocale final : public Locale {
  public:
    char thousandsSeparator() const override { return localeThousandsSeparator(); }
};

}  // namespace

Locale& systemLocale() {
    static SystemLocale locale;
    return locale;
}

namespace {

// "de_DE.UTF-8@euro" -> "de_DE"; "C" and "POSIX" -> the root collation.
std::string icuLocaleFromEnvironment() {
    const char* names[] = {"LC_ALL", "LC_COLLATE", "LANG"};
    std::string value;
    for (const char* n : names) {
        const char* v = std::getenv(n);
        if (v != nullptr && *v != '\0') {
            value = v;
            break;
        }
    }
    value = value.substr(0, value.find_first_of(".@"));
    if (value.empty() || value == "C" || value == "POSIX") return "root";
    return value;
}

struct CollatorCloser {
    void operator()(UCollator* c) const { ucol_close(c); }
};

std::unique_ptr<UCollator, CollatorCloser>& collator() {
    static std::unique_ptr<UCollator, CollatorCloser> c;
    if (!c) {
        UErrorCode status = U_ZERO_ERROR;
        UCollator* raw = ucol_open(icuLocaleFromEnvironment().c_str(), &status);
        if (U_FAILURE(status)) {
            status = U_ZERO_ERROR;
            raw = ucol_open("root", &status);
        }
        if (raw == nullptr) throw std::bad_alloc();
        // Secondary strength: accents count, letter case does not.
        ucol_setStrength(raw, UCOL_SECONDARY);
        c.reset(raw);
    }
    return c;
}

int compareAsciiIgnoreCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z') ca += 32;
        if (cb >= 'A' && cb <= 'Z') cb += 32;
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

bool validUtf8(std::string_view s) {
    std::size_t i = 0;  // any length: the macro takes the index type it is given
    const std::size_t n = s.size();
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    while (i < n) {
        UChar32 ch;
        U8_NEXT(p, i, n, ch);
        if (ch < 0) return false;
    }
    return true;
}

namespace {

// The text as the collator reads it: UTF-16, each ill-formed sequence replaced by U+FFFD. The
// comparison and the sort keys both read it so, which keeps them in one order.
// The buffers collationText fills are kept per thread for the next comparison, but not when a
// long text made them large: a line of 100 MB would hold 200 MB for the rest of the run.
void releaseIfLarge(std::u16string& buffer) {
    if (buffer.capacity() > (std::size_t{1} << 20)) std::u16string().swap(buffer);
}

const UChar* collationText(std::string_view s, std::u16string& buffer, int32_t& length) {
    buffer.resize(s.size() + 1);
    UErrorCode status = U_ZERO_ERROR;
    length = 0;
    u_strFromUTF8WithSub(buffer.data(), static_cast<int32_t>(buffer.size()), &length, s.data(),
                         static_cast<int32_t>(s.size()), 0xFFFD, nullptr, &status);
    if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
    return buffer.data();
}

// Between texts the collator finds equal: valid ones stay equal, valid ones come before broken
// ones, and the bytes decide between broken ones. Each rule refines the one before, so the
// whole stays a strict weak order and a sorted list can be searched by halves whatever its
// bytes.
int breakTie(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    const bool va = validUtf8(a);
    const bool vb = validUtf8(b);
    if (va && vb) return 0;
    if (va != vb) return va ? -1 : 1;
    return compareAsciiIgnoreCase(a, b);
}

}  // namespace

int compareTextIgnoreCase(std::string_view a, std::string_view b) {
    // The collator takes lengths in 32 bits.
    if (a.size() >= INT32_MAX || b.size() >= INT32_MAX) return compareAsciiIgnoreCase(a, b);
    thread_local std::u16string bufferA, bufferB;
    int32_t lengthA = 0, lengthB = 0;
    const UChar* ua = collationText(a, bufferA, lengthA);
    const UChar* ub = collationText(b, bufferB, lengthB);
    const UCollationResult r = ucol_strcoll(collator().get(), ua, lengthA, ub, lengthB);
    releaseIfLarge(bufferA);
    releaseIfLarge(bufferB);
    if (r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
    return breakTie(a, b);
}

bool appendSortKey(std::string_view text, std::string& keys) {
    if (text.size() >= INT32_MAX) return false;
    thread_local std::u16string buffer;
    int32_t length = 0;
    const UChar* u = collationText(text, buffer, length);
    const std::size_t at = keys.size();
    // The collator's key ends in its one byte 0; what follows it breaks the tie as breakTie()
    // does: nothing for valid UTF-8, else 1 and the bytes with A-Z folded.
    std::size_t room = static_cast<std::size_t>(length) * 2 + 16;
    for (;;) {
        keys.resize(at + room);
        const int32_t n = ucol_getSortKey(
            collator().get(), u, length, reinterpret_cast<uint8_t*>(keys.data() + at),
            static_cast<int32_t>(std::min<std::size_t>(room, INT32_MAX)));
        if (n <= 0) throw std::bad_alloc();  // the collator could not build it
        if (static_cast<std::size_t>(n) <= room) {
            keys.resize(at + static_cast<std::size_t>(n));
            break;
        }
        room = static_cast<std::size_t>(n);
    }
    releaseIfLarge(buffer);
    if (!validUtf8(text)) {
        keys.push_back('\x01');
        for (char c : text) keys.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
    }
    return true;
}

}  // namespace pelmora::platform
