// MD5 on a second thread: the package writer reads and writes a block while
// the block before it is digested, so a build runs at the speed of the
// slower of the two instead of their sum.
#pragma once

#include "archive/digest.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace archive {

class background_digest {
public:
    // Blocks of block_size bytes, at most ring_size of them waiting.
    explicit background_digest(size_t block_size, size_t ring_size = 4);
    // Stops the thread; blocks not yet digested are dropped.
    ~background_digest();
    background_digest(const background_digest&) = delete;
    background_digest& operator=(const background_digest&) = delete;

    // A block to fill, once one is free. Its bytes stay readable until the
    // next call.
    char* next_block();
    // Hands over the block of the last next_block() call, holding count bytes.
    void submit(size_t count);
    // Waits for every block handed over; the 16 digest bytes of them all.
    std::string finish();

private:
    void digest_blocks();

    std::vector<std::vector<char>> ring_;
    std::vector<size_t> counts_;
    md5 digest_;
    std::mutex lock_;
    std::condition_variable changed_;
    size_t submitted_ = 0;  // blocks handed over
    size_t digested_ = 0;   // blocks done
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace archive
