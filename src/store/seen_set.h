#pragma once
// The set of card URLs a run has collected, and the card queue and set
// together as phase 1 collects into them.

#include "site/listing_handler.h"
#include "site/requests.h"

#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

// A set of texts compared without regard to letter case: two texts are the
// same entry exactly when QString::compare(a, b, Qt::CaseInsensitive) is 0
// (Cyrillic included). Lookup and insertion take constant time on average: a
// hash over the case-folded text picks the candidates, Qt's comparison
// decides.
class SeenSet {
public:
    SeenSet() = default;
    SeenSet(const SeenSet& other);
    SeenSet& operator=(const SeenSet& other);
    SeenSet(SeenSet&& other) noexcept;
    SeenSet& operator=(SeenSet&& other) noexcept;
    ~SeenSet() = default;

    bool Contains(QStringView text) const;
    // Adds `text` unless an entry equal to it without regard to case exists;
    // true when it was added. Texts of 2^32 characters or more are refused
    // with std::length_error.
    bool Insert(QStringView text);
    std::size_t size() const { return entries_.size(); }

private:
    struct FreeDeleter {
        void operator()(void* memory) const;
    };
    template <typename T> using Buffer = std::unique_ptr<T[], FreeDeleter>;

    // Open addressing with linear probing. A slot points straight at its
    // entry's characters, so that a lookup touches the slot and the text and
    // nothing else; `tag` is the low half of the hash. Free slots have no
    // data.
    struct Slot {
        const char16_t* data = nullptr;
        std::uint32_t tag = 0;
        std::uint32_t size = 0;
    };
    struct Entry {
        const char16_t* data;
        std::uint32_t size;
        std::uint64_t hash; // to rehash without reading the text again
    };

    static std::uint64_t Hash(QStringView text);
    // The slot holding `text`, or the free slot where it belongs.
    std::size_t Find(QStringView text, std::uint64_t hash) const;
    void Grow();
    // A copy of `text` in the character store, which never moves it.
    const char16_t* Store(QStringView text);

    // The characters of the entries, packed one after another in blocks that
    // grow up to a few megabytes; with a million URLs the texts and the slots
    // take over a hundred megabytes, and large blocks let them sit on huge
    // pages, where a random lookup does not also miss the address
    // translation cache.
    std::vector<Buffer<char16_t>> blocks_;
    std::size_t blockUsed_ = 0;
    std::size_t blockSize_ = 0;
    std::vector<Entry> entries_;
    Buffer<Slot> slots_; // power-of-two count, at most half full
    std::size_t slotCount_ = 0;
};

// Phase 1's collection: a URL goes to the back of the card queue and into the
// set unless the set holds it already.
class CardQueueCollector final : public CardCollector {
public:
    CardQueueCollector(WorkQueue& queue, SeenSet& seen) : queue_(queue), seen_(seen) {}
    bool Collect(const QString& url) override;
    std::size_t Count() const override { return queue_.size(); }

private:
    WorkQueue& queue_;
    SeenSet& seen_;
};
