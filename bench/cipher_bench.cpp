// Throughput of the link keystream: block generation and the per-byte XOR
// that every byte of an encrypted link passes through.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "link/link_cipher.h"
#include "link/turing.h"
#include "platform/memory.h"

static void BM_TuringGen(benchmark::State& state) {
  uint8_t key[32] = {};
  auto* st = static_cast<TuringState*>(alloc_zeroed(sizeof(TuringState)));
  turing_set_key(st, key, sizeof key);
  turing_set_iv(st, nullptr, 0);
  uint8_t block[kTuringBlockBytes];
  for (auto _ : state) {
    turing_gen(st, block);
    benchmark::DoNotOptimize(block);
  }
  state.SetBytesProcessed(state.iterations() * kTuringBlockBytes);
  std::free(st);
}
BENCHMARK(BM_TuringGen);

// XOR in pieces of the given size, as the framed writer and readers do.
static void BM_CipherSendBytes(benchmark::State& state) {
  uint8_t key[32] = {};
  auto* link = static_cast<Link*>(alloc_zeroed(sizeof(Link)));
  if (!init_link_ciphers(link, key, sizeof key)) {
    state.SkipWithError("no memory");
    std::free(link);
    return;
  }
  std::vector<uint8_t> buf(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    cipher_send_bytes(link, buf.data(), static_cast<int>(buf.size()));
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  free_link_ciphers(link);
  std::free(link);
}
BENCHMARK(BM_CipherSendBytes)->Arg(1)->Arg(4)->Arg(2048)->Arg(65536);

BENCHMARK_MAIN();
