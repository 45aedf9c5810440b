// Microbenchmarks of the model's hot paths, on statistics grown from real
// corpus files: one coding decision in an StLarge and in an StSmall context
// (encoder and decoder side), the context-tree walk, growing the tree, the
// escape estimate, and whole files through the library.
//
// The decisions are replayed from a real stream: the tree is grown over
// the first half of a file and then frozen, and the second half is walked
// over it as the coder would, recording every decision with the bytes
// excluded before it. The escape table is the one trained by that walk.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ppm/tree.hpp"
#include "quellpack/quellpack.hpp"
#include "rc/range_coder.hpp"
#include "see/see.hpp"
#include "stats/stats.hpp"

namespace {

using namespace quellpack;

std::vector<uint8_t> readCorpusFile(const std::string& name) {
    const std::string path = std::string(QUELLPACK_SHARED_DIR) + "/corpus/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
    }
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The history of position pos: up to kMaxOrder bytes before it.
int historyLength(size_t pos) { return static_cast<int>(std::min<size_t>(pos, ppm::kMaxOrder)); }

// The deepest context on the path that knows c: where the coder codes it.
int deepestHolding(const ppm::Tree& tree, const uint32_t* path, int depth, uint32_t c) {
    static const stats::Mask none;
    for (int j = depth; j > 0; --j)
        if (stats::getSymbInfo(c, none, tree.nodes[path[j]].stats, tree.pool).found) return j;
    return 0;
}

// Adds data[from, to) to the tree as the coder does, without coding.
void grow(ppm::Tree& tree, const uint8_t* data, size_t from, size_t to) {
    uint32_t path[ppm::kMaxOrder + 1];
    for (size_t pos = from; pos < to; ++pos) {
        const int hlen = historyLength(pos);
        const uint8_t* history = data + pos - hlen;
        const int depth = ppm::walkContexts(tree, history, hlen, path);
        const int found = deepestHolding(tree, path, depth, data[pos]);
        ppm::updateTree(tree, path, depth, found, history, hlen + 1);
    }
}

// One recorded decision: byte c, or its escape, in the context of `node`,
// after the bytes excluded[from, to) were excluded by longer contexts.
struct Decision {
    const ppm::Node* node;
    uint32_t c;
    int32_t prevHit;
    uint32_t from, to;
};

// The features of one escape estimate and its outcome, with the interval
// the context gave the byte (low, freq) when it was found.
struct EscapeCase {
    int32_t prevHit, esc, total;
    bool escaped;
    int32_t low, freq;
};

struct Fixture {
    std::vector<uint8_t> data;
    ppm::Tree tree;      // grown over the first half, then frozen
    see::Etab etab;      // trained by the walk over the second half
    std::vector<Decision> decisions[3];  // by the context's StatKind
    std::vector<uint8_t> excluded;
    std::vector<EscapeCase> escapes;
    size_t shifted[3] = {};  // decisions left out: the estimate shrinks them (r < 0)
};

// Walks the second half over the frozen tree as the encoder would,
// recording each decision and training the escape table. The bytes
// excluded so far are kept here too, in the order they were excluded.
void record(Fixture& f) {
    const size_t n = f.data.size();
    see::mk_etab(f.etab);
    stats::Mask mask;
    uint32_t path[ppm::kMaxOrder + 1];
    int32_t prevHit = 1;
    for (size_t pos = n / 2; pos < n; ++pos) {
        const uint32_t c = f.data[pos];
        const int hlen = historyLength(pos);
        const int depth = ppm::walkContexts(f.tree, f.data.data() + pos - hlen, hlen, path);
        mask.reset();
        bool gone[256] = {};
        std::vector<uint8_t> excluded;
        int j = depth;
        for (;; --j) {
            const stats::Stats& st = f.tree.nodes[path[j]].stats;
            stats::DetScratch scratch;
            const stats::SymbolView v = stats::view(st, f.tree.pool, scratch);
            const stats::SymbInfo info = stats::getSymbInfo(c, mask, st, f.tree.pool);
            const auto from = static_cast<uint32_t>(f.excluded.size());
            f.excluded.insert(f.excluded.end(), excluded.begin(), excluded.end());
            const auto to = static_cast<uint32_t>(f.excluded.size());
            f.decisions[stats::kindOf(st, f.tree.pool)].push_back(Decision{&f.tree.nodes[path[j]], c, prevHit, from, to});
            f.escapes.push_back(EscapeCase{prevHit, info.esc, info.total, !info.found, info.low, info.freq});
            see::trainCell(f.etab, see::cellIndex(prevHit, info.esc, info.total), !info.found);
            if (info.found) break;
            stats::excludeSymbols(mask, v);
            for (int32_t i = 0; i < v.n; ++i) {
                const uint32_t b = stats::symbolAt(v, i);
                if (!gone[b]) excluded.push_back(static_cast<uint8_t>(b));
                gone[b] = true;
            }
        }
        prevHit = j == depth ? 1 : 0;
    }
}

// Sets the mask to what the longer contexts had excluded before d.
void prepareMask(stats::Mask& mask, const Fixture& f, const Decision& d) {
    mask.reset();
    for (uint32_t i = d.from; i < d.to; ++i) mask.exclude(f.excluded[i]);
}

// Keeps the decisions the plain path codes: those whose estimate does not
// shrink the symbols (r < 0 takes a rarer two-step path).
void dropShifted(Fixture& f) {
    stats::Mask mask;
    for (int kind = 0; kind < 3; ++kind) {
        std::vector<Decision>& list = f.decisions[kind];
        const size_t before = list.size();
        std::erase_if(list, [&](const Decision& d) {
            prepareMask(mask, f, d);
            stats::DetScratch scratch;
            const stats::SymbolView v = stats::view(d.node->stats, f.tree.pool, scratch);
            const stats::SymbInfo info = stats::getSymbInfo(d.c, mask, v);
            return see::escapeEstimate(f.etab, d.prevHit, info.esc, info.total).r < 0;
        });
        f.shifted[kind] = before - list.size();
    }
}

const Fixture& fixture(const std::string& file) {
    static std::map<std::string, std::unique_ptr<Fixture>> cache;
    std::unique_ptr<Fixture>& f = cache[file];
    if (!f) {
        f = std::make_unique<Fixture>();
        f->data = readCorpusFile(file);
        ppm::initTree(f->tree);
        grow(f->tree, f->data.data(), 0, f->data.size() / 2);
        record(*f);
        dropShifted(*f);
    }
    return *f;
}

// Codes a decision's outcome in coder units: the byte's interval [low,
// low + freq) of a context with escape esc, or the escape (r >= 0).
inline void encodeOutcome(rc::RCState& coder, const see::Estimate& est, bool found, int32_t low, int32_t freq,
                          int32_t esc) {
    const int32_t start = found ? est.E + ((low - esc) << est.r) : 0;
    const int32_t size = found ? freq << est.r : est.E;
    rc::encodeFreq(coder, start, size, est.A + est.E);
}

// Encoder side of a decision: locate c, estimate the escape, code.
inline void encodeDecision(rc::RCState& coder, const see::Etab& etab, const stats::SymbolView& v,
                           const stats::Mask& mask, uint32_t c, int32_t prevHit) {
    const stats::SymbInfo info = stats::getSymbInfo(c, mask, v);
    const see::Estimate est = see::escapeEstimate(etab, prevHit, info.esc, info.total);
    encodeOutcome(coder, est, info.found, info.low, info.freq, info.esc);
}

// Decoder side of a decision: totals, estimate, target, owner, update.
// Returns the byte, -1 for the escape, -2 when nothing owns the target.
inline int32_t decodeDecision(rc::RCState& coder, const see::Etab& etab, const stats::SymbolView& v,
                              const stats::Mask& mask, int32_t prevHit) {
    stats::MaskedCounts mc;
    const stats::Totals tt = stats::decodeTotals(v, mask, mc);
    const see::Estimate est = see::escapeEstimate(etab, prevHit, tt.esc, tt.esc + tt.sum);
    const int32_t t = rc::getFreq(coder, est.A + est.E);
    if (t < est.E) {
        rc::decodeUpdate(coder, 0, est.E);
        return -1;
    }
    const stats::Lookup lk = stats::decodeLookup(v, mc, tt.esc + ((t - est.E) >> est.r));
    if (lk.symbol < 0) return -2;
    rc::decodeUpdate(coder, est.E + ((lk.low - tt.esc) << est.r), lk.freq << est.r);
    return lk.symbol;
}

// The decisions of one kind coded in order: what the decoder benchmark reads.
std::vector<uint8_t> encodeAll(const Fixture& f, const std::vector<Decision>& list) {
    rc::RCState coder = rc::newEncoder(list.size() * 2 + 16);
    stats::Mask mask;
    for (const Decision& d : list) {
        prepareMask(mask, f, d);
        stats::DetScratch scratch;
        encodeDecision(coder, f.etab, stats::view(d.node->stats, f.tree.pool, scratch), mask, d.c, d.prevHit);
    }
    return rc::finishEncoder(coder);
}

// Whether decoding the stream gives back every decision's outcome.
bool decodesBack(const Fixture& f, const std::vector<Decision>& list, const std::vector<uint8_t>& coded) {
    rc::RCState coder = rc::newDecoder(coded.data(), coded.size());
    stats::Mask mask;
    for (const Decision& d : list) {
        prepareMask(mask, f, d);
        stats::DetScratch scratch;
        const stats::SymbolView v = stats::view(d.node->stats, f.tree.pool, scratch);
        const bool found = stats::getSymbInfo(d.c, mask, v).found;
        const int32_t sym = decodeDecision(coder, f.etab, v, mask, d.prevHit);
        if (sym != (found ? static_cast<int32_t>(d.c) : -1)) return false;
    }
    return true;
}

// Runs `step` on one recorded decision per iteration, with the mask set as
// the coder had it, cycling through the list; `restart` runs at each wrap.
template <class Step, class Restart>
void cycleDecisions(benchmark::State& state, const Fixture& f, int kind, Step step, Restart restart) {
    const std::vector<Decision>& list = f.decisions[kind];
    stats::Mask mask;
    size_t i = 0;
    for (auto _ : state) {
        const Decision& d = list[i];
        prepareMask(mask, f, d);
        stats::DetScratch scratch;
        step(d, stats::view(d.node->stats, f.tree.pool, scratch), mask);
        if (++i == list.size()) {
            i = 0;
            restart();
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetLabel(std::to_string(list.size()) + " decisions (" + std::to_string(f.shifted[kind]) +
                   " with r<0 left out)");
}

void BM_EncodeDecision(benchmark::State& state, const char* file, stats::StatKind kind) {
    const Fixture& f = fixture(file);
    if (f.decisions[kind].empty()) return state.SkipWithError("no decisions of this kind");
    const size_t capacity = f.decisions[kind].size() * 2 + 16;
    rc::RCState coder = rc::newEncoder(capacity);
    cycleDecisions(
        state, f, kind,
        [&](const Decision& d, const stats::SymbolView& v, const stats::Mask& mask) {
            encodeDecision(coder, f.etab, v, mask, d.c, d.prevHit);
        },
        [&] {
            benchmark::DoNotOptimize(rc::finishEncoder(coder));
            coder = rc::newEncoder(capacity);
        });
}

void BM_DecodeDecision(benchmark::State& state, const char* file, stats::StatKind kind) {
    const Fixture& f = fixture(file);
    if (f.decisions[kind].empty()) return state.SkipWithError("no decisions of this kind");
    const std::vector<uint8_t> coded = encodeAll(f, f.decisions[kind]);
    if (!decodesBack(f, f.decisions[kind], coded))
        return state.SkipWithError("decoded decisions differ from the coded ones");
    rc::RCState coder = rc::newDecoder(coded.data(), coded.size());
    cycleDecisions(
        state, f, kind,
        [&](const Decision& d, const stats::SymbolView& v, const stats::Mask& mask) {
            benchmark::DoNotOptimize(decodeDecision(coder, f.etab, v, mask, d.prevHit));
        },
        [&] { coder = rc::newDecoder(coded.data(), coded.size()); });
}

// One walk per iteration, over a tree grown from the whole file.
void BM_TreeWalk(benchmark::State& state, const char* file) {
    const std::vector<uint8_t> data = readCorpusFile(file);
    ppm::Tree tree;
    ppm::initTree(tree);
    grow(tree, data.data(), 0, data.size());
    uint32_t path[ppm::kMaxOrder + 1];
    size_t pos = 0, depths = 0;
    for (auto _ : state) {
        const int hlen = historyLength(pos);
        depths += ppm::walkContexts(tree, data.data() + pos - hlen, hlen, path);
        benchmark::DoNotOptimize(path);
        if (++pos == data.size()) pos = 0;
    }
    benchmark::DoNotOptimize(depths);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// Grows a fresh tree over the whole file per iteration: walks, counts and
// new contexts, without coding.
void BM_TreeGrow(benchmark::State& state, const char* file) {
    const std::vector<uint8_t> data = readCorpusFile(file);
    size_t bytes = 0;
    for (auto _ : state) {
        ppm::Tree tree;
        ppm::initTree(tree);
        grow(tree, data.data(), 0, data.size());
        bytes = ppm::treeBytes(tree);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    state.counters["tree_bytes_per_input_byte"] = static_cast<double>(bytes) / static_cast<double>(data.size());
}

// One estimate and its training per iteration, in the order of a real walk.
void BM_EscapeEstimate(benchmark::State& state, const char* file) {
    const std::vector<EscapeCase>& cases = fixture(file).escapes;
    see::Etab etab;
    see::mk_etab(etab);
    size_t i = 0;
    for (auto _ : state) {
        const EscapeCase& e = cases[i];
        benchmark::DoNotOptimize(see::escapeEstimate(etab, e.prevHit, e.esc, e.total));
        see::trainCell(etab, see::cellIndex(e.prevHit, e.esc, e.total), e.escaped);
        if (++i == cases.size()) {
            i = 0;
            see::mk_etab(etab);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// The coding layer alone, without the model: one decision's estimate, its
// range coding and the table's training per iteration, from the outcomes a
// real walk recorded. Decisions the estimate shrinks (r < 0) code their
// escape interval: they are rare and cost the same here.
void BM_CodingLayer(benchmark::State& state, const char* file) {
    const Fixture& f = fixture(file);
    const std::vector<EscapeCase>& cases = f.escapes;
    see::Etab etab;
    see::mk_etab(etab);
    rc::RCState coder = rc::newEncoder(1 << 16);
    size_t i = 0;
    for (auto _ : state) {
        const EscapeCase& e = cases[i];
        const see::Estimate est = see::escapeEstimate(etab, e.prevHit, e.esc, e.total);
        encodeOutcome(coder, est, !e.escaped & (est.r >= 0), e.low, e.freq, e.esc);
        see::trainCell(etab, est.cell, e.escaped);
        if (coder.buffer.size() > (1 << 15)) coder.buffer.clear();
        if (++i == cases.size()) {
            i = 0;
            see::mk_etab(etab);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["decisions_per_byte"] =
        static_cast<double>(cases.size()) / static_cast<double>(f.data.size() - f.data.size() / 2);
}

void BM_Compress(benchmark::State& state, const char* file) {
    const std::vector<uint8_t> data = readCorpusFile(file);
    for (auto _ : state) benchmark::DoNotOptimize(quellpack::compress(std::span<const uint8_t>(data)));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void BM_Decompress(benchmark::State& state, const char* file) {
    const std::vector<uint8_t> data = readCorpusFile(file);
    const std::vector<uint8_t> packed = quellpack::compress(std::span<const uint8_t>(data));
    if (quellpack::decompress(packed) != data) return state.SkipWithError("round trip differs");
    for (auto _ : state) benchmark::DoNotOptimize(quellpack::decompress(packed));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

constexpr const char* kText = "lcet10.txt";
constexpr const char* kBinary = "kppkn.gtb";

BENCHMARK_CAPTURE(BM_EncodeDecision, StLarge_text, kText, stats::StLarge);
BENCHMARK_CAPTURE(BM_EncodeDecision, StSmall_text, kText, stats::StSmall);
BENCHMARK_CAPTURE(BM_EncodeDecision, StLarge_binary, kBinary, stats::StLarge);
BENCHMARK_CAPTURE(BM_EncodeDecision, StSmall_binary, kBinary, stats::StSmall);
BENCHMARK_CAPTURE(BM_DecodeDecision, StLarge_text, kText, stats::StLarge);
BENCHMARK_CAPTURE(BM_DecodeDecision, StSmall_text, kText, stats::StSmall);
BENCHMARK_CAPTURE(BM_DecodeDecision, StLarge_binary, kBinary, stats::StLarge);
BENCHMARK_CAPTURE(BM_DecodeDecision, StSmall_binary, kBinary, stats::StSmall);
BENCHMARK_CAPTURE(BM_TreeWalk, text, kText);
BENCHMARK_CAPTURE(BM_TreeWalk, binary, kBinary);
BENCHMARK_CAPTURE(BM_TreeGrow, text, kText)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TreeGrow, binary, kBinary)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EscapeEstimate, text, kText);
BENCHMARK_CAPTURE(BM_EscapeEstimate, binary, kBinary);
BENCHMARK_CAPTURE(BM_CodingLayer, text, kText);
BENCHMARK_CAPTURE(BM_CodingLayer, binary, kBinary);
BENCHMARK_CAPTURE(BM_Compress, alice29, "alice29.txt")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Compress, kppkn, kBinary)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decompress, alice29, "alice29.txt")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decompress, kppkn, kBinary)->Unit(benchmark::kMillisecond);

}  // namespace
