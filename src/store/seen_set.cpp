#include "store/seen_set.h"

#include <QChar>

#include <algorithm>
#include <bit>
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
    for (std::size_t i = 0; i < other.slotCount_; ++i) {
        const Slot& slot = other.slots_[i];
        if (slot.data != nullptr)
            Insert(QStringView(slot.data, slot.size));
    }
}

// A moved-from set is empty and usable.
SeenSet::SeenSet(SeenSet&& other) noexcept
    : texts_(std::move(other.texts_)), slots_(std::move(other.slots_)),
      slotCount_(std::exchange(other.slotCount_, 0)), slotBits_(std::exchange(other.slotBits_, 0)),
      size_(std::exchange(other.size_, 0)) {}

SeenSet& SeenSet::operator=(SeenSet&& other) noexcept {
    if (this != &other) {
        texts_ = std::move(other.texts_);
        slots_ = std::move(other.slots_);
        slotCount_ = std::exchange(other.slotCount_, 0);
        slotBits_ = std::exchange(other.slotBits_, 0);
        size_ = std::exchange(other.size_, 0);
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
std::uint32_t SeenSet::Hash(QStringView text) {
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
    return static_cast<std::uint32_t>(Mix(h ^ word));
}

// The slot where probing for `tag` begins: the top bits of the tag times
// the golden ratio, so that every bit of the tag counts at any table size.
std::size_t SeenSet::Home(std::uint32_t tag) const {
    return static_cast<std::size_t>((tag * 0x9E3779B97F4A7C15ull) >> (64 - slotBits_));
}

std::size_t SeenSet::Find(QStringView text, std::uint32_t tag) const {
    const std::size_t mask = slotCount_ - 1;
    for (std::size_t i = Home(tag);; i = (i + 1) & mask) {
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
    if (size_ == 0 || text.size() > kMaxSize)
        return false;
    return slots_[Find(text, Hash(text))].data != nullptr;
}

bool SeenSet::Insert(QStringView text) {
    return InsertStored(text).has_value();
}

std::optional<QStringView> SeenSet::InsertStored(QStringView text) {
    if (text.size() > kMaxSize)
        throw std::length_error("SeenSet: text too long");
    if ((size_ + 1) * 2 > slotCount_)
        Grow();
    const std::uint32_t tag = Hash(text);
    const std::size_t at = Find(text, tag);
    if (slots_[at].data != nullptr)
        return std::nullopt;
    const auto size = static_cast<std::uint32_t>(text.size());
    const char16_t* data = Store(text);
    slots_[at] = {data, tag, size};
    ++size_;
    return QStringView(data, size);
}

const char16_t* SeenSet::Store(QStringView text) {
    const auto size = static_cast<std::size_t>(text.size());
    if (size == 0)
        return kEmpty;
    if (!texts_)
        texts_ = std::make_shared<TextStore>();
    TextStore& store = *texts_;
    if (store.blocks.empty() || store.size - store.used < size) {
        const std::size_t next =
            store.blocks.empty() ? kFirstBlockChars : std::min(store.size * 2, kLargestBlockChars);
        const std::size_t blockSize = std::max(next, size);
        store.blocks.emplace_back(
            static_cast<char16_t*>(Allocate(blockSize * sizeof(char16_t), false)));
        store.size = blockSize;
        store.used = 0;
    }
    char16_t* copy = store.blocks.back().get() + store.used;
    std::memcpy(copy, text.utf16(), size * sizeof(char16_t));
    store.used += size;
    return copy;
}

// Doubles the table; the entries move by their tags alone, no text is read.
void SeenSet::Grow() {
    const std::size_t count = slotCount_ == 0 ? 16 : slotCount_ * 2;
    Buffer<Slot> grown(static_cast<Slot*>(Allocate(count * sizeof(Slot), true)));
    const Buffer<Slot> old = std::exchange(slots_, std::move(grown));
    const std::size_t oldCount = std::exchange(slotCount_, count);
    slotBits_ = std::countr_zero(count);
    const std::size_t mask = count - 1;
    for (std::size_t j = 0; j < oldCount; ++j) {
        const Slot& slot = old[j];
        if (slot.data == nullptr)
            continue;
        std::size_t i = Home(slot.tag);
        while (slots_[i].data != nullptr)
            i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

void UrlQueue::pop_front() {
    entries_.pop_front();
    if (entries_.empty())
        stores_.clear();
}

void UrlQueue::clear() {
    entries_.clear();
    stores_.clear();
}

bool UrlQueue::PushNew(QStringView url, SeenSet& seen) {
    const std::optional<QStringView> stored = seen.InsertStored(url);
    if (!stored)
        return false;
    std::shared_ptr<const void> storage = seen.Storage();
    if (storage && (stores_.empty() || stores_.back() != storage))
        stores_.push_back(std::move(storage));
    entries_.push_back({stored->utf16(), static_cast<std::uint32_t>(stored->size())});
    return true;
}

bool CardQueueCollector::Collect(const QString& url) {
    return queue_.PushNew(url, seen_);
}
