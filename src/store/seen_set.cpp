#include "store/seen_set.h"

#include <QChar>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

namespace {

// Slots keep sizes in 32 bits.
constexpr qsizetype kMaxSize = 0xFFFFFFFF;

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kFirstBlockChars = std::size_t{16} << 10;
constexpr std::size_t kLargestBlockChars = std::size_t{2} << 20; // 4 MiB

// Where a slot points for an empty text: never null, so that null marks a
// free slot.
const char16_t kEmpty[1] = {};

// Memory for `bytes`, zeroed when asked. From a huge page upwards it is
// aligned to huge pages and asks the system for them (Linux gives them on
// request only, by default); a failed request costs nothing but the speed-up.
void* Allocate(std::size_t bytes, bool zeroed) {
    void* memory = nullptr;
    if (bytes < kHugePage) {
        memory = zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
    } else {
        bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        memory = std::aligned_alloc(kHugePage, bytes);
        if (memory != nullptr) {
#if defined(MADV_HUGEPAGE)
            madvise(memory, bytes, MADV_HUGEPAGE);
#endif
            if (zeroed)
                std::memset(memory, 0, bytes);
        }
    }
    if (memory == nullptr)
        throw std::bad_alloc();
    return memory;
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

void SeenSet::FreeDeleter::operator()(void* memory) const {
    std::free(memory);
}

SeenSet::SeenSet(const SeenSet& other) {
    for (const Entry& entry : other.entries_)
        Insert(QStringView(entry.data, entry.size));
}

// A moved-from set is empty and usable.
SeenSet::SeenSet(SeenSet&& other) noexcept
    : blocks_(std::exchange(other.blocks_, {})), blockUsed_(std::exchange(other.blockUsed_, 0)),
      blockSize_(std::exchange(other.blockSize_, 0)), entries_(std::exchange(other.entries_, {})),
      slots_(std::move(other.slots_)), slotCount_(std::exchange(other.slotCount_, 0)) {}

SeenSet& SeenSet::operator=(SeenSet&& other) noexcept {
    if (this != &other) {
        blocks_ = std::exchange(other.blocks_, {});
        blockUsed_ = std::exchange(other.blockUsed_, 0);
        blockSize_ = std::exchange(other.blockSize_, 0);
        entries_ = std::exchange(other.entries_, {});
        slots_ = std::move(other.slots_);
        slotCount_ = std::exchange(other.slotCount_, 0);
    }
    return *this;
}

SeenSet& SeenSet::operator=(const SeenSet& other) {
    if (this != &other) {
        SeenSet copy(other);
        *this = std::move(copy);
    }
    return *this;
}

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
    const std::size_t mask = slotCount_ - 1;
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

bool SeenSet::Insert(QStringView text) {
    if (text.size() > kMaxSize)
        throw std::length_error("SeenSet: text too long");
    if ((entries_.size() + 1) * 2 > slotCount_)
        Grow();
    const std::uint64_t hash = Hash(text);
    const std::size_t at = Find(text, hash);
    if (slots_[at].data != nullptr)
        return false;
    const auto size = static_cast<std::uint32_t>(text.size());
    const char16_t* data = Store(text);
    entries_.push_back({data, size, hash});
    slots_[at] = {data, static_cast<std::uint32_t>(hash), size};
    return true;
}

const char16_t* SeenSet::Store(QStringView text) {
    const auto size = static_cast<std::size_t>(text.size());
    if (size == 0)
        return kEmpty;
    if (blocks_.empty() || blockSize_ - blockUsed_ < size) {
        const std::size_t next =
            blocks_.empty() ? kFirstBlockChars : std::min(blockSize_ * 2, kLargestBlockChars);
        blockSize_ = std::max(next, size);
        blocks_.emplace_back(
            static_cast<char16_t*>(Allocate(blockSize_ * sizeof(char16_t), false)));
        blockUsed_ = 0;
    }
    char16_t* copy = blocks_.back().get() + blockUsed_;
    std::memcpy(copy, text.utf16(), size * sizeof(char16_t));
    blockUsed_ += size;
    return copy;
}

void SeenSet::Grow() {
    const std::size_t count = slotCount_ == 0 ? 16 : slotCount_ * 2;
    Buffer<Slot> grown(static_cast<Slot*>(Allocate(count * sizeof(Slot), true)));
    const std::size_t mask = count - 1;
    for (const Entry& entry : entries_) {
        std::size_t i = static_cast<std::size_t>(entry.hash >> 32) & mask;
        while (grown[i].data != nullptr)
            i = (i + 1) & mask;
        grown[i] = {entry.data, static_cast<std::uint32_t>(entry.hash), entry.size};
    }
    slots_ = std::move(grown);
    slotCount_ = count;
}

bool CardQueueCollector::Collect(const QString& url) {
    if (!seen_.Insert(url))
        return false;
    queue_.push_back(url);
    return true;
}
