// Carry-propagating range coder on 24-bit quantities.
//
// The encoder narrows [low, low + range) for every coded interval and emits
// the top byte of low once it can no longer change; bytes whose value still
// depends on a carry are postponed in `pending`. The decoder mirrors every
// division and renormalisation step, so it reads exactly the bytes written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace quellpack::rc {

constexpr uint32_t kTop = 0xFFFFFF;      // initial range, 24 bits
constexpr uint32_t kBottom = 0x10000;    // renormalise when range drops below

// Coder state for both directions. The encoder uses the output store and
// low/pending/cache/carry; the decoder uses the input bytes and code.
struct RCState {
    std::vector<uint8_t> buffer; // encoder: output store, grows as needed
    const uint8_t* input = nullptr;  // decoder: coded bytes at hand (not owned)
    size_t length = 0;           // decoder: number of them
    size_t position = 0;         // decoder: next byte to read
    size_t earlierChunks = 0;    // decoder: bytes of the chunks before `input`
    // Decoder: supplies further coded bytes once `input` is used up, setting
    // its argument to them and returning their number (0 at the end).
    std::function<size_t(const uint8_t*& data)> refill;
    int32_t low = 0;
    uint32_t range = kTop;       // unsigned: the final flush shifts it past 32 bits
    int32_t code = 0;
    int64_t pending = 0;
    int32_t cache = 0;
    int32_t carry = 0;
    bool overrun = false;        // decoder: a byte past the end was needed
};

// Creates an encoder whose store starts with room for `capacity` bytes.
// Pages of the store are touched only as bytes are written, so a large
// initial capacity costs address space, not memory.
inline RCState newEncoder(size_t capacity) {
    RCState st;
    st.buffer.reserve(capacity);
    return st;
}

// Writes one byte into the store, growing it when full.
inline void putByte(RCState& st, uint8_t b) { st.buffer.push_back(b); }

// One output step: releases the cache byte and any postponed bytes once the
// top byte of low is settled, then shifts low and range by one byte.
inline void shiftLow(RCState& st) {
    if (st.low < 0xFF0000 || st.carry > 0) {
        putByte(st, static_cast<uint8_t>(st.cache + st.carry));
        const uint8_t fill = static_cast<uint8_t>(st.carry - 1);
        for (; st.pending > 0; --st.pending) putByte(st, fill);
        st.cache = st.low >> 16;
        st.carry = 0;
    } else {
        ++st.pending;
    }
    st.low = (st.low & 0xFFFF) << 8;
    st.range <<= 8;
}

// Codes the interval [start, start + size) of a scale of `total`
// (1 <= total <= 65536, size >= 1, start + size <= total).
inline void encodeFreq(RCState& st, int32_t start, int32_t size, int32_t total) {
    const uint32_t r = st.range / static_cast<uint32_t>(total);
    const int32_t newLow = static_cast<int32_t>((static_cast<uint32_t>(st.low) + r * static_cast<uint32_t>(start)) & 0xFFFFFF);
    if (newLow < st.low) st.carry += 1;
    st.low = newLow;
    st.range = r * static_cast<uint32_t>(size);
    while (st.range < kBottom) shiftLow(st);
}

// Flushes the coder and hands over the coded bytes.
inline std::vector<uint8_t> finishEncoder(RCState& st) {
    for (int i = 0; i < 4; ++i) shiftLow(st);
    return std::move(st.buffer);
}

// Takes the next chunk of coded bytes; past the end it yields 0 and flags
// an overrun.
uint8_t refillByte(RCState& st);

// Reads the next coded byte.
inline uint8_t readByte(RCState& st) {
    if (st.position < st.length) return st.input[st.position++];
    return refillByte(st);
}

// The number of coded bytes the decoder has loaded so far: four at the
// start, then one per renormalisation step, however the input was chunked.
inline size_t consumed(const RCState& st) { return st.earlierChunks + st.position; }

// Shifts one coded byte into the 24-bit code.
inline void loadByte(RCState& st) {
    st.code = ((st.code & 0xFFFF) << 8) + readByte(st);
}

// Creates a decoder over coded bytes (not copied: they must outlive it),
// continued by `refill` when given.
inline RCState newDecoder(const uint8_t* input, size_t length,
                          std::function<size_t(const uint8_t*& data)> refill = nullptr) {
    RCState st;
    st.input = input;
    st.length = length;
    st.refill = std::move(refill);
    for (int i = 0; i < 4; ++i) loadByte(st);
    return st;
}

// Starts a decision of scale `total`: leaves the step in range and returns
// the target. A damaged stream can give a target of total or more.
inline int32_t getFreq(RCState& st, int32_t total) {
    st.range /= static_cast<uint32_t>(total);
    return static_cast<int32_t>(static_cast<uint32_t>(st.code) / st.range);
}

// Removes the decided interval and pulls in further coded bytes.
inline void decodeUpdate(RCState& st, int32_t start, int32_t size) {
    const uint32_t r = st.range;
    st.code = static_cast<int32_t>(static_cast<uint32_t>(st.code) - r * static_cast<uint32_t>(start));
    st.range = r * static_cast<uint32_t>(size);
    while (st.range < kBottom) {
        st.range <<= 8;
        loadByte(st);
    }
}

}  // namespace quellpack::rc
