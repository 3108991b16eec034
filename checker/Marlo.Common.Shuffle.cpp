#include "checker/Marlo.Common.Shuffle.h"

#include "catalogue/Marlo.Common.MyCollection.h"

#include <chrono>
#include <random>

namespace {

// The shuffles run on the main thread only; each one starts from a fresh clock seed.
std::mt19937 &Reseeded() {
    static std::mt19937 gen;
    gen.seed(
        static_cast<std::mt19937::result_type>(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    return gen;
}

int Draw(std::mt19937 &gen, int Below) {
    return std::uniform_int_distribution<int>(0, Below - 1)(gen);
}

} // namespace

void ShuffleStrings(QStringList &List) {
    auto &gen = Reseeded();
    const int n = int(List.size());
    for (int i = 0; i < n; ++i) {
        const int r = Draw(gen, n - i);
        List.swapItemsAt(i, i + r);
    }
}

void ShuffleCollection(TMyCollection &List) {
    auto &gen = Reseeded();
    const int n = List.Count();
    for (int i = 0; i < n; ++i) {
        const int r = Draw(gen, n - i);
        if (r > 0)
            List.Move(i, i + r);
    }
}
