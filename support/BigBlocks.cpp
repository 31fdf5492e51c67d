// Big blocks straight from mmap, with a small cache of freed ones.
#include "support/BigBlocks.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace cvn::bigblocks {
namespace {

// Every block starts with its mapping's size; the caller's bytes follow.
constexpr size_t kHeader = 64;

struct Kept {
    void* mapping;
    size_t size;
};

std::mutex& lock() {
    static std::mutex m;
    return m;
}
// Oldest first.
std::vector<Kept>& kept() {
    static auto* k = new std::vector<Kept>();  // outlives every static user
    return *k;
}
size_t gKeptBytes = 0;

size_t pageRounded(size_t bytes) {
    static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

}  // namespace

void* Allocate(size_t bytes) {
    if (bytes > SIZE_MAX - kHeader - (size_t{1} << 16)) throw std::bad_alloc();
    const size_t need = pageRounded(bytes + kHeader);
    void* mapping = nullptr;
    size_t size = 0;
    {
        // The smallest kept block that fits without wasting more than half.
        std::lock_guard<std::mutex> guard(lock());
        auto& k = kept();
        auto best = k.end();
        for (auto it = k.begin(); it != k.end(); ++it)
            if (it->size >= need && it->size <= 2 * need &&
                (best == k.end() || it->size < best->size))
                best = it;
        if (best != k.end()) {
            mapping = best->mapping;
            size = best->size;
            gKeptBytes -= size;
            k.erase(best);
        }
    }
    if (!mapping) {
        mapping = ::mmap(nullptr, need, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping == MAP_FAILED) throw std::bad_alloc();
        size = need;
    }
    *static_cast<size_t*>(mapping) = size;
    return static_cast<char*>(mapping) + kHeader;
}

void Free(void* block) noexcept {
    if (!block) return;
    void* mapping = static_cast<char*>(block) - kHeader;
    const size_t size = *static_cast<size_t*>(mapping);
    std::vector<Kept> drop;
    {
        std::lock_guard<std::mutex> guard(lock());
        auto& k = kept();
        if (size <= kKeptBytes) {
            try {
                k.push_back({mapping, size});
                gKeptBytes += size;
                mapping = nullptr;
            } catch (...) {
                // No room to remember it: it goes back to the kernel below.
            }
        }
        while (!k.empty() && (k.size() > kKeptBlocks || gKeptBytes > kKeptBytes)) {
            gKeptBytes -= k.front().size;
            drop.push_back(k.front());
            k.erase(k.begin());
        }
    }
    if (mapping) ::munmap(mapping, size);
    for (const Kept& d : drop) ::munmap(d.mapping, d.size);
}

size_t KeptBytes() noexcept {
    std::lock_guard<std::mutex> guard(lock());
    return gKeptBytes;
}

}  // namespace cvn::bigblocks
