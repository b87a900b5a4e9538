#include "image/file_io.h"

#include <atomic>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

namespace image {

std::size_t MemorySource::read(std::uint8_t* out, std::size_t n) {
    const std::size_t left = bytes_.size() - position_;
    const std::size_t count = n < left ? n : left;
    if (count > 0) std::memcpy(out, bytes_.data() + position_, count);
    position_ += count;
    return count;
}

bool MemoryAccess::readAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
    if (n > 0) std::memcpy(out, bytes_.data() + offset, n);
    return true;
}

bool FileAccess::readAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    if (offset > size_ || n > size_ - offset) return false;
    if (n == 0) return true;
    return seekTo(file_, offset) && std::fread(out, 1, n, file_) == n;
}

bool VectorSink::write(const std::uint8_t* data, std::size_t n) {
    try {
        bytes.insert(bytes.end(), data, data + n);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

std::size_t FileSource::read(std::uint8_t* out, std::size_t n) {
    return std::fread(out, 1, n, file_);
}

bool FileSink::write(const std::uint8_t* data, std::size_t n) {
    return n == 0 || std::fwrite(data, 1, n, file_) == n;
}

bool FileHandle::close() {
    if (!file_) return true;
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
}

namespace {

constexpr int kTemporarySlots = 64;
constexpr std::size_t kTemporaryPathBytes = 4096;
// A slot is claimed before its path is written and published after, so that two threads never
// write one slot and the interrupt handler never reads a path half written.
enum : int { kSlotFree = 0, kSlotWriting = 1, kSlotHeld = 2 };
struct TemporarySlot {
    std::atomic<int> state{kSlotFree};
    char path[kTemporaryPathBytes] = {};
};
TemporarySlot temporaries[kTemporarySlots];
// Threads that register and unregister at once take turns; the interrupt handler, which may not
// wait, still walks the slots by their states alone.
std::mutex temporariesLock;

}  // namespace

void registerTemporary(const std::string& path) {
    if (path.empty() || path.size() >= kTemporaryPathBytes) return;
    std::lock_guard<std::mutex> hold(temporariesLock);
    for (TemporarySlot& slot : temporaries) {
        int expected = kSlotFree;
        if (!slot.state.compare_exchange_strong(expected, kSlotWriting)) continue;
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.state.store(kSlotHeld);
        return;
    }
}

void unregisterTemporary(const std::string& path) {
    std::lock_guard<std::mutex> hold(temporariesLock);
    for (TemporarySlot& slot : temporaries) {
        if (slot.state.load() != kSlotHeld || path != slot.path) continue;
        int expected = kSlotHeld;
        if (slot.state.compare_exchange_strong(expected, kSlotFree)) return;
    }
}

void removeRegisteredTemporaries() {
    for (TemporarySlot& slot : temporaries) {
        int expected = kSlotHeld;
        if (slot.state.compare_exchange_strong(expected, kSlotFree)) platform::removeNow(slot.path);
    }
}

bool ReplacingFile::open(const std::string& target) {
    discard();
    target_ = platform::resolveTarget(target);
    if (!platform::mayReplace(target_)) return false;
    InterruptionsHeld held;
    file_ = platform::createTemporaryBeside(target_, temp_);
    written_ = 0;
    finished_ = false;
    ok_ = file_ != nullptr;
    if (!ok_) temp_.clear();
    registerTemporary(temp_);
    return ok_;
}

bool ReplacingFile::write(const std::uint8_t* data, std::size_t n) {
    if (!ok_ || !file_) return false;
    if (n > 0 && std::fwrite(data, 1, n, file_) != n) ok_ = false;
    written_ += n;
    return ok_;
}

bool ReplacingFile::finish() {
    if (finished_) return ok_;
    finished_ = true;
    if (!file_) return ok_ = false;
    const bool closed = platform::flushAndClose(file_);
    file_ = nullptr;
    // The size on disk, not the counts the runtime returned, says whether the data is there.
    ok_ = ok_ && closed && platform::sizeOnDisk(temp_) == written_;
    return ok_;
}

bool ReplacingFile::replaceTarget() {
    if (!finished_ || !ok_ || temp_.empty()) return false;
    if (!platform::moveOver(temp_, target_)) return false;
    unregisterTemporary(temp_);
    temp_.clear();  // it is the target now
    return true;
}

bool ReplacingFile::commit() {
    const bool done = finish() && replaceTarget();
    if (!done) discard();
    return done;
}

void ReplacingFile::discard() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!temp_.empty()) {
        removeFile(temp_);
        unregisterTemporary(temp_);
    }
    temp_.clear();
    ok_ = false;
}

bool replaceFileContents(const std::string& path, std::string_view bytes) {
    ReplacingFile file;
    return file.open(path) && file.write(bytes) && file.commit();
}

ReplacingFile* ReplacingSet::add(const std::string& target) {
    try {
        files_.push_back(std::make_unique<ReplacingFile>());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (!files_.back()->open(target)) {
        files_.pop_back();
        return nullptr;
    }
    return files_.back().get();
}

bool ReplacingSet::commit() {
    for (const auto& f : files_)
        if (!f->finish()) {
            discard();
            return false;
        }
    // Every file is complete: from here only renames within their folders remain.
    bool all = true;
    for (const auto& f : files_) all = f->replaceTarget() && all;
    discard();
    return all;
}

void ReplacingSet::discard() {
    for (const auto& f : files_) f->discard();
    files_.clear();
}

}  // namespace image
