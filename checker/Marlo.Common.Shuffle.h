#pragma once
// The two shuffles of the checker's site lists. For the same draws they give different orders:
// the string lists exchange items, the collections move them.

#include <QStringList>

class TMyCollection;

/// Reseeds the generator from the clock, then for each position i exchanges the items at i and
/// i + r, r drawn uniformly from 0 to (count - i - 1).
void ShuffleStrings(QStringList &List);
/// Same draws; the item at i is moved to i + r, the items between moving one place toward the front.
void ShuffleCollection(TMyCollection &List);
