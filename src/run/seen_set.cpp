#include "run/seen_set.h"

bool SeenSet::Contains(QStringView text) const {
    return entries_.find(text) != entries_.end();
}

bool SeenSet::Insert(const QString& text) {
    return entries_.insert(text).second;
}
