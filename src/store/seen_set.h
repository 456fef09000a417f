#pragma once
// The set of card URLs a run has collected, the queue of collected card URLs
// (which holds the set's own copies of its URLs instead of copies of its
// own), and the two together as phase 1 collects into them.

#include "site/listing_handler.h"
#include "site/requests.h"

#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>
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
    // Insert, giving the set's own copy of `text` when it was added. The
    // copy never moves and lives as long as the set or a holder of
    // Storage() (a copy of the set has copies of its own).
    std::optional<QStringView> InsertStored(QStringView text);
    std::shared_ptr<const void> Storage() const { return texts_; }
    std::size_t size() const { return size_; }

private:
    struct FreeDeleter {
        void operator()(void* memory) const;
    };
    template <typename T> using Buffer = std::unique_ptr<T[], FreeDeleter>;

    // The characters of the entries, packed one after another in blocks that
    // grow up to a few megabytes; with a million URLs the texts and the slots
    // take over a hundred megabytes, and large blocks let them sit on huge
    // pages, where a random lookup does not also miss the address
    // translation cache. Blocks are only added, never moved or freed while
    // the store lives.
    struct TextStore {
        std::vector<Buffer<char16_t>> blocks;
        std::size_t used = 0; // of the last block
        std::size_t size = 0; // of the last block
    };

    // Open addressing with linear probing. A slot points straight at its
    // entry's characters, so that a lookup touches the slot and the text and
    // nothing else; `tag` is the low half of the text's hash and decides the
    // slot's home too, so that growing the table never reads a text. Free
    // slots have no data.
    struct Slot {
        const char16_t* data = nullptr;
        std::uint32_t tag = 0;
        std::uint32_t size = 0;
    };

    static std::uint32_t Hash(QStringView text);
    std::size_t Home(std::uint32_t tag) const;
    // The slot holding `text`, or the free slot where it belongs.
    std::size_t Find(QStringView text, std::uint32_t tag) const;
    void Grow();
    // A copy of `text` in the character store, which never moves it.
    const char16_t* Store(QStringView text);

    std::shared_ptr<TextStore> texts_; // made at the first entry
    Buffer<Slot> slots_;               // power-of-two count, at most half full
    std::size_t slotCount_ = 0;
    int slotBits_ = 0; // log2 of slotCount_
    std::size_t size_ = 0;
};

// The card URLs collected, in collection order: first in, first out, like
// WorkQueue, but each entry is a view of the text a SeenSet holds for it
// (16 bytes an entry instead of a text of its own). The queue shares the
// set's storage, so its entries stay valid whatever becomes of the set.
class UrlQueue {
    struct Entry {
        const char16_t* data;
        std::uint32_t size;
    };

public:
    // Random access over the entries, each read as a QString copy.
    class const_iterator {
    public:
        using iterator_concept = std::random_access_iterator_tag;
        using iterator_category = std::input_iterator_tag; // entries are read as copies
        using value_type = QString;
        using difference_type = std::ptrdiff_t;
        using reference = QString;
        using pointer = void;

        const_iterator() = default;
        QString operator*() const {
            return QString(reinterpret_cast<const QChar*>(it_->data), it_->size);
        }
        QString operator[](difference_type n) const { return *(*this + n); }
        const_iterator& operator++() {
            ++it_;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator old = *this;
            ++it_;
            return old;
        }
        const_iterator& operator--() {
            --it_;
            return *this;
        }
        const_iterator operator--(int) {
            const_iterator old = *this;
            --it_;
            return old;
        }
        const_iterator& operator+=(difference_type n) {
            it_ += n;
            return *this;
        }
        const_iterator& operator-=(difference_type n) {
            it_ -= n;
            return *this;
        }
        friend const_iterator operator+(const_iterator i, difference_type n) { return i += n; }
        friend const_iterator operator+(difference_type n, const_iterator i) { return i += n; }
        friend const_iterator operator-(const_iterator i, difference_type n) { return i -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
            return a.it_ - b.it_;
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) = default;
        friend auto operator<=>(const const_iterator& a, const const_iterator& b) = default;

    private:
        friend class UrlQueue;
        explicit const_iterator(std::deque<Entry>::const_iterator it) : it_(it) {}
        std::deque<Entry>::const_iterator it_;
    };

    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    QStringView operator[](std::size_t i) const { return View(entries_[i]); }
    // A copy of the first entry.
    QString front() const { return View(entries_.front()).toString(); }
    void pop_front();
    void clear();
    const_iterator begin() const { return const_iterator(entries_.begin()); }
    const_iterator end() const { return const_iterator(entries_.end()); }

    // Adds `url` to `seen` and, when it was not there yet, queues the set's
    // copy of it; true when it was queued.
    bool PushNew(QStringView url, SeenSet& seen);
    // Keeps only the entries `keep` says yes to, in their order.
    template <typename Keep> void Filter(Keep keep);

private:
    static QStringView View(const Entry& entry) { return QStringView(entry.data, entry.size); }

    std::deque<Entry> entries_;
    std::vector<std::shared_ptr<const void>> stores_; // the storages the entries point into
};

template <typename Keep> void UrlQueue::Filter(Keep keep) {
    std::deque<Entry> kept;
    for (const Entry& entry : entries_) {
        if (keep(View(entry)))
            kept.push_back(entry);
    }
    entries_ = std::move(kept);
    if (entries_.empty())
        stores_.clear();
}

// Phase 1's collection: a URL goes to the back of the card queue and into the
// set unless the set holds it already.
class CardQueueCollector final : public CardCollector {
public:
    CardQueueCollector(UrlQueue& queue, SeenSet& seen) : queue_(queue), seen_(seen) {}
    bool Collect(const QString& url) override;
    std::size_t Count() const override { return queue_.size(); }

private:
    UrlQueue& queue_;
    SeenSet& seen_;
};
