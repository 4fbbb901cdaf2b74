#pragma once
// Work over a range split into contiguous chunks, each on a thread of its
// own. Callers keep one result per chunk and join them in chunk order, so
// what they produce is the same for any number of threads.
#include <cstddef>
#include <exception>
#include <functional>
#include <thread>
#include <vector>

namespace kmztile::platform {

/** How many chunks RunChunks makes of @p count items for at most @p threads threads (at least 1). */
inline std::size_t ChunkCount(std::size_t count, int threads) {
  const std::size_t wanted = threads > 1 ? static_cast<std::size_t>(threads) : 1;
  return count < wanted ? (count > 0 ? count : 1) : wanted;
}

/**
 * Calls @p work(chunk, begin, end) for each of ChunkCount(count, threads)
 * chunks of [0, count), chunk 0 on the calling thread and the others on
 * threads of their own, and returns when all are done. The first exception a
 * chunk throws is thrown again here, after every thread has ended.
 * Thread-local state a chunk records (last error, problems) stays on its
 * thread: @p work hands back what the caller needs.
 */
inline void RunChunks(std::size_t count, int threads,
                      const std::function<void(std::size_t chunk, std::size_t begin, std::size_t end)>& work) {
  const std::size_t chunks = ChunkCount(count, threads);
  const auto begin = [count, chunks](std::size_t c) { return count * c / chunks; };
  if (chunks == 1) {
    work(0, 0, count);
    return;
  }
  std::vector<std::exception_ptr> failures(chunks);
  std::vector<std::thread> others;
  others.reserve(chunks - 1);
  const auto run = [&](std::size_t c) {
    try {
      work(c, begin(c), begin(c + 1));
    } catch (...) {
      failures[c] = std::current_exception();
    }
  };
  try {
    for (std::size_t c = 1; c < chunks; ++c) others.emplace_back(run, c);
  } catch (...) {
    // No thread could be started for a chunk: what has started ends, then
    // the rest runs here.
    for (std::thread& t : others) t.join();
    for (std::size_t c = others.size() + 1; c < chunks; ++c) run(c);
    others.clear();
  }
  run(0);
  for (std::thread& t : others) t.join();
  for (const std::exception_ptr& failure : failures)
    if (failure) std::rethrow_exception(failure);
}

}  // namespace kmztile::platform
