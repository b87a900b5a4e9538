#include "image/file_io.h"

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

bool removeFile(const std::string& path) {
    return std::remove(path.c_str()) == 0;
}

}  // namespace image
