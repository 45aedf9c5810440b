#include "rc/range_coder.hpp"

namespace quellpack::rc {

uint8_t refillByte(RCState& st) {
    if (!st.overrun && st.refill) {
        const uint8_t* data = nullptr;
        const size_t n = st.refill(data);
        if (n > 0) {
            st.earlierChunks += st.length;
            st.input = data;
            st.length = n;
            st.position = 1;
            return data[0];
        }
    }
    st.overrun = true;
    return 0;
}

}  // namespace quellpack::rc
