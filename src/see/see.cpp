#include "see/see.hpp"

namespace quellpack::see {

void mk_etab(Etab& etab) {
    for (int row = 0; row < kRows; ++row) {
        for (int q = 0; q < kCells; ++q) {
            etab.w[2 * (row * kCells + q)] = q > 1 ? q : 1;
            etab.w[2 * (row * kCells + q) + 1] = 50 - q > 1 ? 50 - q : 1;
        }
    }
}

}  // namespace quellpack::see
