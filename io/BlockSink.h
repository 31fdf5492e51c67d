// Where the data of a binary block goes while IoSession reads it: a result
// vector of bytes or words, or a caller's buffer. Internal to the I/O
// library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/ByteOrder.h"
#include "support/DataVector.h"

namespace cvn::io {

// Where a block's data goes: a vector reserved for the declared size and
// grown to it before the data is read. Growing a DataVector leaves the new
// elements unset, so the read is the only pass that writes them.
template <typename T>
class BlockSink {
public:
    static constexpr bool kSwapsWords = false;
    explicit BlockSink(DataVector<T>& out) : out_(out) {}
    void reserve(size_t bytes) {
        declared_ = bytes;
        out_.clear();
        out_.reserve(elements(bytes));
    }
    size_t declaredBytes() const { return declared_; }
    void grow(size_t bytes) {
        if (elements(bytes) > out_.size()) out_.resize(elements(bytes));
    }
    // The size of an indefinite block, known once it has been read.
    void setSize(size_t bytes) {
        declared_ = bytes;
        out_.resize(elements(bytes));
    }
    uint8_t* data() { return reinterpret_cast<uint8_t*>(out_.data()); }
    void arrived(size_t) {}

private:
    static size_t elements(size_t bytes) { return (bytes + sizeof(T) - 1) / sizeof(T); }
    DataVector<T>& out_;
    size_t declared_ = 0;
};

// A caller's buffer that is already large enough.
struct RawSink {
    static constexpr bool kSwapsWords = false;
    uint8_t* buffer;
    void grow(size_t) {}
    uint8_t* data() { return buffer; }
    void setSize(size_t) {}
    void arrived(size_t) {}
};

// 16-bit big-endian words in host order. A definite block is swapped on
// its way in (ReplyReader::readExact); an indefinite one, read whole first,
// is swapped in place here.
class WordSink : public BlockSink<int16_t> {
public:
    static constexpr bool kSwapsWords = true;
    using BlockSink::BlockSink;
    void arrived(size_t bytes) {
        size_t upTo = bytes & ~size_t{1};
        bigEndianWordsToHost(data() + swapped_, upTo - swapped_);
        swapped_ = upTo;
    }

private:
    size_t swapped_ = 0;
};

}  // namespace cvn::io
