// Chunked formatting on several threads, handed on in order.
#include "host/formats/ChunkFormatter.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

namespace cvn::host {

unsigned FormattingThreads() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

void FormatInChunks(size_t count, unsigned threads,
                    const std::function<size_t(size_t, size_t, std::string&)>& format,
                    const std::function<void(std::string_view)>& sink) {
    const size_t chunks = (count + kChunkPoints - 1) / kChunkPoints;
    threads = static_cast<unsigned>(std::clamp<size_t>(threads, 1, std::max<size_t>(chunks, 1)));
    // The texts are kept from batch to batch so their storage is reused.
    std::vector<std::string> texts(threads);
    std::vector<size_t> lengths(threads);
    std::vector<std::exception_ptr> errors(threads);
    auto run = [&](size_t chunk, unsigned slot) {
        try {
            const size_t begin = chunk * kChunkPoints;
            lengths[slot] = format(begin, std::min(count, begin + kChunkPoints), texts[slot]);
        } catch (...) {
            errors[slot] = std::current_exception();
        }
    };
    for (size_t first = 0; first < chunks; first += threads) {
        const unsigned batch = static_cast<unsigned>(std::min<size_t>(threads, chunks - first));
        {
            std::vector<std::jthread> helpers;
            helpers.reserve(batch - 1);
            for (unsigned t = 1; t < batch; ++t) helpers.emplace_back(run, first + t, t);
            run(first, 0);
        }
        for (unsigned t = 0; t < batch; ++t)
            if (errors[t]) std::rethrow_exception(errors[t]);
        for (unsigned t = 0; t < batch; ++t) sink(std::string_view(texts[t].data(), lengths[t]));
    }
}

}  // namespace cvn::host
