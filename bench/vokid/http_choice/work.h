// Shared by the three candidate servers: the stand-in for a lookup's CPU
// cost, and argument parsing, so that only the HTTP library differs.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace hc {

constexpr std::size_t kBodyLimit = 1u << 20;  // 1 MB, else 413
constexpr int kReadTimeoutSec = 2;

// FNV-1a over the body, then `rounds` of xorshift-multiply mixing seeded
// with it: cost is fixed by `rounds`, not by the body size, as a lookup's is
// dominated by the index search rather than by parsing its document.
inline std::uint64_t work(const char *p, std::size_t n, std::uint64_t rounds) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 1099511628211ull;
  for (std::uint64_t r = 0; r < rounds; ++r) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 29;
  }
  return h;
}

// Rounds that make work() on a 4 kB body take about `target_us`.
inline std::uint64_t calibrate(double target_us = 1000.0) {
  std::string body(4096, 'x');
  std::uint64_t rounds = 100000;
  volatile std::uint64_t sink = 0;
  for (int pass = 0; pass < 4; ++pass) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) sink = sink + work(body.data(), body.size(), rounds);
    double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count() / 20;
    rounds = static_cast<std::uint64_t>(static_cast<double>(rounds) * target_us / us);
  }
  return rounds;
}

// HC_ROUNDS in the environment fixes the rounds, so that every server of
// one run does the same work; else calibrate here.
inline std::uint64_t rounds() {
  const char *env = std::getenv("HC_ROUNDS");
  return env != nullptr ? std::strtoull(env, nullptr, 10) : calibrate();
}

struct Args {
  int port = 8080;
  int threads = 2;
  int max_conn = 64;
};

inline Args parse(int argc, char **argv) {
  Args a;
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PORT THREADS MAX_CONNECTIONS\n", argv[0]);
    std::exit(2);
  }
  a.port = std::atoi(argv[1]);
  a.threads = std::atoi(argv[2]);
  a.max_conn = std::atoi(argv[3]);
  return a;
}

}  // namespace hc
