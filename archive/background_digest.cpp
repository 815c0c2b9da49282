#include "archive/background_digest.h"

namespace archive {

background_digest::background_digest(size_t block_size, size_t ring_size)
    : ring_(ring_size, std::vector<char>(block_size)), counts_(ring_size, 0) {
    worker_ = std::thread(&background_digest::digest_blocks, this);
}

background_digest::~background_digest() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

char* background_digest::next_block() {
    std::unique_lock<std::mutex> hold(lock_);
    // The block handed over ring_size submissions ago must be done.
    changed_.wait(hold, [this] { return submitted_ - digested_ < ring_.size(); });
    return ring_[submitted_ % ring_.size()].data();
}

void background_digest::submit(size_t count) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        counts_[submitted_ % ring_.size()] = count;
        ++submitted_;
    }
    changed_.notify_all();
}

std::string background_digest::finish() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return digested_ == submitted_; });
    return digest_.finish();
}

void background_digest::digest_blocks() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [this] { return stopping_ || digested_ < submitted_; });
        if (stopping_) return;
        const size_t slot = digested_ % ring_.size();
        hold.unlock();
        digest_.update(ring_[slot].data(), counts_[slot]);
        hold.lock();
        ++digested_;
        changed_.notify_all();
    }
}

}  // namespace archive
