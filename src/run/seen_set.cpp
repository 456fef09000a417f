#include "run/seen_set.h"

#include <QChar>

#include <stdexcept>
#include <utility>

namespace {

// Slots keep sizes in 32 bits.
constexpr qsizetype kMaxSize = 0xFFFFFFFF;

// Where a slot points for `text`: never null, so that null marks a free slot.
const QChar* DataOf(const QString& text) {
    static const QChar kEmpty{};
    return text.constData() != nullptr ? text.constData() : &kEmpty;
}

std::uint64_t Mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return h;
}

} // namespace

// The hash of the sequence QString::compare(..., Qt::CaseInsensitive) walks:
// per code unit its case folding, a low surrogate after a high one folded
// together with it as one code point. Texts equal without regard to case
// have equal sequences, hence equal hashes.
std::uint64_t SeenSet::Hash(QStringView text) {
    std::uint64_t h = static_cast<std::uint64_t>(text.size()) * 0x9E3779B97F4A7C15ull;
    std::uint64_t word = 0;
    int inWord = 0;
    char32_t last = 0;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        char32_t folded;
        if (unit < 0x80) {
            folded = unit >= u'A' && unit <= u'Z' ? unit + 32 : unit;
        } else {
            char32_t ucs4 = unit;
            if (QChar::isLowSurrogate(ucs4) && QChar::isHighSurrogate(last))
                ucs4 = QChar::surrogateToUcs4(static_cast<char16_t>(last), unit);
            folded = QChar::toCaseFolded(ucs4);
        }
        last = unit;
        word = (word << 21) ^ folded; // a code point has 21 bits
        if (++inWord == 3) {
            h = (h ^ word) * 0x100000001B3ull;
            h ^= h >> 29;
            word = 0;
            inWord = 0;
        }
    }
    return Mix(h ^ word);
}

std::size_t SeenSet::Find(QStringView text, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    const auto tag = static_cast<std::uint32_t>(hash);
    for (std::size_t i = static_cast<std::size_t>(hash >> 32) & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.data == nullptr)
            return i;
        if (slot.tag == tag && slot.size == text.size()) {
            const QStringView entry(slot.data, slot.size);
            // The same text is the common case and needs no folding.
            if (entry == text || entry.compare(text, Qt::CaseInsensitive) == 0)
                return i;
        }
    }
}

bool SeenSet::Contains(QStringView text) const {
    if (entries_.empty() || text.size() > kMaxSize)
        return false;
    return slots_[Find(text, Hash(text))].data != nullptr;
}

bool SeenSet::Insert(const QString& text) {
    if (text.size() > kMaxSize)
        throw std::length_error("SeenSet: text too long");
    if ((entries_.size() + 1) * 2 > slots_.size())
        Grow();
    const std::uint64_t hash = Hash(text);
    Slot& slot = slots_[Find(text, hash)];
    if (slot.data != nullptr)
        return false;
    entries_.push_back(text);
    hashes_.push_back(hash);
    slot = {DataOf(entries_.back()), static_cast<std::uint32_t>(hash),
            static_cast<std::uint32_t>(text.size())};
    return true;
}

void SeenSet::Grow() {
    std::vector<Slot> grown(slots_.empty() ? 16 : slots_.size() * 2);
    const std::size_t mask = grown.size() - 1;
    for (std::size_t e = 0; e < entries_.size(); ++e) {
        std::size_t i = static_cast<std::size_t>(hashes_[e] >> 32) & mask;
        while (grown[i].data != nullptr)
            i = (i + 1) & mask;
        grown[i] = {DataOf(entries_[e]), static_cast<std::uint32_t>(hashes_[e]),
                    static_cast<std::uint32_t>(entries_[e].size())};
    }
    slots_ = std::move(grown);
}
