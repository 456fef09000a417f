#pragma once
// The run's string collections: the work queues and the set of card URLs
// already collected.

#include <QString>
#include <QStringView>

#include <cstddef>
#include <deque>
#include <set>

// First in, first out: append at the back, take from the front, both O(1)
// without moving what is already queued. Used for ListingQueue and CardQueue.
using WorkQueue = std::deque<QString>;

// A set of texts compared without regard to letter case (QString's
// case-insensitive comparison, Cyrillic included); lookup and insertion are
// O(log n).
class SeenSet {
public:
    bool Contains(QStringView text) const;
    // Adds `text` unless an entry equal to it without regard to case exists;
    // true when it was added.
    bool Insert(const QString& text);
    std::size_t size() const { return entries_.size(); }

private:
    struct CaseInsensitiveLess {
        using is_transparent = void;
        bool operator()(QStringView a, QStringView b) const {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        }
    };
    std::set<QString, CaseInsensitiveLess> entries_;
};
