// Sort keys that order names as the reader's language does.
#include "catalogue/collation.h"

#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <cstdlib>
#include <cstring>
#include <vector>

struct TCollator::TImpl {
    UCollator* collator = nullptr;
};

namespace {

// "de_DE.UTF-8@euro" -> "de_DE"; "C" and "POSIX" -> "" (root).
std::string IcuLocaleName(std::string_view locale) {
    std::string name(locale.substr(0, locale.find_first_of(".@")));
    if (name == "C" || name == "POSIX") name.clear();
    return name;
}

std::vector<UChar> ToUtf16(std::string_view text) {
    std::vector<UChar> out(text.size() + 1);
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    // Ill-formed bytes become U+FFFD rather than failing the comparison.
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) length = 0;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

}  // namespace

TCollator::TCollator(std::string_view locale) : impl_(std::make_unique<TImpl>()) {
    UErrorCode status = U_ZERO_ERROR;
    impl_->collator = ucol_open(IcuLocaleName(locale).c_str(), &status);
    if (U_FAILURE(status) || !impl_->collator) {
        if (impl_->collator) ucol_close(impl_->collator);
        status = U_ZERO_ERROR;
        impl_->collator = ucol_open("", &status);
        if (U_FAILURE(status)) impl_->collator = nullptr;
    }
    // Secondary strength: accents count after the base letters, case not at all.
    if (impl_->collator) ucol_setStrength(impl_->collator, UCOL_SECONDARY);
}

TCollator::~TCollator() {
    if (impl_->collator) ucol_close(impl_->collator);
}

int TCollator::Compare(std::string_view a, std::string_view b) const {
    if (impl_->collator) {
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult r = ucol_strcollUTF8(impl_->collator, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                                    static_cast<int32_t>(b.size()), &status);
        if (U_SUCCESS(status) && r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
    }
    return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
}

std::string TCollator::SortKey(std::string_view text) const {
    std::string key;
    if (impl_->collator) {
        const std::vector<UChar> u = ToUtf16(text);
        std::vector<uint8_t> buffer(u.size() * 4 + 16);
        int32_t n = ucol_getSortKey(impl_->collator, u.data(), static_cast<int32_t>(u.size()), buffer.data(),
                                    static_cast<int32_t>(buffer.size()));
        if (n > static_cast<int32_t>(buffer.size())) {
            buffer.resize(static_cast<std::size_t>(n));
            n = ucol_getSortKey(impl_->collator, u.data(), static_cast<int32_t>(u.size()), buffer.data(), n);
        }
        // The key ends with a zero byte, so the bytes that follow only break ties.
        if (n > 0) key.assign(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
    }
    key.push_back('\0');
    key.append(text);
    return key;
}

std::string CollationLocaleFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"})
        if (const char* value = std::getenv(name); value && *value) return value;
    return {};
}
