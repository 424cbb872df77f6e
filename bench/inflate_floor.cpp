// The floor under any extraction of an archive: read every entry through
// our reader, inflate it with zlib and check it with our CRC-32, on N
// threads, writing nothing.
// An extractor cannot beat this on the same machine; how close it comes says
// how much its file writing costs.
//
//   inflate-floor ARCHIVE [THREADS]   prints: seconds entries bytes
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include "crc32.h"
#include "system.h"
#include "zip.h"

namespace {

struct Item {
  rdz::zip::Entry e;
  uint64_t order;  // position in the directory, for messages
};

struct Shared {
  rdz::zip::Source* src;
  const rdz::zip::Archive* ar;
  const std::vector<Item>* items;
  std::atomic<size_t> next{0};
  std::atomic<uint64_t> bytes{0};
  std::atomic<bool> failed{false};
};

// Buffers as large as helps zlib; the floor should not be held back by ours.
constexpr size_t kIn = 256 * 1024, kOut = 256 * 1024;

void work(Shared* sh) {
  std::vector<unsigned char> in(kIn), out(kOut), name(64 * 1024);
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
    sh->failed = true;
    return;
  }
  uint64_t done = 0;
  for (size_t i; (i = sh->next.fetch_add(1)) < sh->items->size();) {
    const rdz::zip::Entry& e = (*sh->items)[i].e;
    uint64_t data = 0;
    if (rdz::zip::locate_data(*sh->src, *sh->ar, e, name.data(), name.size(), &data) !=
        rdz::zip::Error::none) {
      std::fprintf(stderr, "inflate-floor: entry %llu: bad local header\n",
                   static_cast<unsigned long long>((*sh->items)[i].order));
      sh->failed = true;
      break;
    }
    uint32_t crc = 0;
    uint64_t left = e.csize, produced = 0;
    bool ok = true;
    if (e.method == 0) {
      while (left && ok) {
        size_t n = left < kOut ? static_cast<size_t>(left) : kOut;
        ok = sh->src->read(data, out.data(), n);
        crc = rdz::crc32_update(crc, out.data(), n);
        data += n;
        left -= n;
        produced += n;
      }
    } else {
      inflateReset(&z);
      z.avail_in = 0;
      int rc = Z_OK;
      while (ok && rc != Z_STREAM_END) {
        if (z.avail_in == 0 && left) {
          size_t n = left < kIn ? static_cast<size_t>(left) : kIn;
          ok = sh->src->read(data, in.data(), n);
          z.next_in = in.data();
          z.avail_in = static_cast<uInt>(n);
          data += n;
          left -= n;
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(kOut);
        rc = inflate(&z, Z_NO_FLUSH);
        size_t n = kOut - z.avail_out;
        crc = rdz::crc32_update(crc, out.data(), n);
        produced += n;
        if (rc != Z_OK && rc != Z_STREAM_END) ok = false;
      }
    }
    if (!ok || produced != e.usize || crc != e.crc) {
      std::fprintf(stderr, "inflate-floor: entry %llu: data does not check out\n",
                   static_cast<unsigned long long>((*sh->items)[i].order));
      sh->failed = true;
      break;
    }
    done += produced;
  }
  inflateEnd(&z);
  sh->bytes += done;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: inflate-floor ARCHIVE [THREADS]\n");
    return 2;
  }
  const unsigned threads = argc == 3 ? static_cast<unsigned>(std::atoi(argv[2])) : 2;
  if (threads < 1 || threads > 64) {
    std::fprintf(stderr, "inflate-floor: THREADS must be 1 to 64\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();

  rdz::sys::File f;
  uint64_t size = 0;
  if (rdz::sys::open_read(argv[1], f, &size) != 0) {
    std::fprintf(stderr, "inflate-floor: cannot open %s\n", argv[1]);
    return 1;
  }
  rdz::sys::FileSource src(f, size);
  std::vector<unsigned char> cd(std::max(rdz::zip::kMaxRecord, rdz::zip::kOpenScratch));
  rdz::zip::Archive ar;
  if (rdz::zip::Error err = rdz::zip::open(src, &ar, cd.data(), cd.size());
      err != rdz::zip::Error::none) {
    std::fprintf(stderr, "inflate-floor: %s\n", rdz::zip::describe(err));
    return 1;
  }
  // Names live on in a deque, which never moves them: the local header
  // check compares them.
  std::vector<Item> items;
  std::deque<std::string> names;
  rdz::zip::Cursor cur(src, ar, cd.data(), cd.size());
  for (;;) {
    Item it;
    bool end = false;
    if (rdz::zip::Error err = cur.next(&it.e, &end); err != rdz::zip::Error::none) {
      std::fprintf(stderr, "inflate-floor: %s\n", rdz::zip::describe(err));
      return 1;
    }
    if (end) break;
    it.order = items.size();
    names.emplace_back(it.e.name);
    it.e.name = names.back();
    it.e.unicode_name = {};
    items.push_back(it);
  }
  // Largest first, so that no thread is left with a big entry at the end.
  std::vector<Item> order = items;
  std::stable_sort(order.begin(), order.end(),
                   [](const Item& a, const Item& b) { return a.e.csize > b.e.csize; });

  Shared sh;
  sh.src = &src;
  sh.ar = &ar;
  sh.items = &order;
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, &sh);
  work(&sh);
  for (auto& t : pool) t.join();
  if (sh.failed) return 1;

  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.4f %zu %llu\n", secs, items.size(), static_cast<unsigned long long>(sh.bytes.load()));
  return 0;
}
