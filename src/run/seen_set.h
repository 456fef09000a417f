#pragma once
// The run's string collections: the work queues and the set of card URLs
// already collected.

#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// First in, first out: append at the back, take from the front, both O(1)
// without moving what is already queued. Used for ListingQueue and CardQueue.
using WorkQueue = std::deque<QString>;

// A set of texts compared without regard to letter case: two texts are the
// same entry exactly when QString::compare(a, b, Qt::CaseInsensitive) is 0
// (Cyrillic included). Lookup and insertion take constant time on average: a
// hash over the case-folded text picks the candidates, Qt's comparison
// decides.
class SeenSet {
public:
    bool Contains(QStringView text) const;
    // Adds `text` unless an entry equal to it without regard to case exists;
    // true when it was added. Texts of 2^32 characters or more are refused
    // with std::length_error.
    bool Insert(const QString& text);
    std::size_t size() const { return entries_.size(); }

private:
    // Open addressing with linear probing. A slot points straight at its
    // entry's characters, so that a lookup touches the slot and the text and
    // nothing else; `tag` is the low half of the hash. Free slots have no
    // data.
    struct Slot {
        const QChar* data = nullptr;
        std::uint32_t tag = 0;
        std::uint32_t size = 0;
    };

    static std::uint64_t Hash(QStringView text);
    // The slot holding `text`, or the free slot where it belongs.
    std::size_t Find(QStringView text, std::uint64_t hash) const;
    void Grow();

    // Owns the texts the slots point at. Entries are never changed, so their
    // characters stay where they are when the vector grows, and a copy of the
    // set shares them (QString's implicit sharing) for as long as it needs.
    std::vector<QString> entries_;
    std::vector<std::uint64_t> hashes_; // per entry, to rehash without the texts
    std::vector<Slot> slots_;           // power-of-two size, at most half full
};
