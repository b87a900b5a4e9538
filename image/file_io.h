// Small file helpers shared by the BMP reader, writer and normaliser: byte sources and sinks, so
// the codecs run on memory in tests and the fuzzer and on FILE streams in the programs, plus the
// few calls that differ between POSIX and Win32 (64-bit sizes, exclusive creation).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace image {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Reads up to n bytes into out; returns the count read (fewer only at the end or on an error).
    virtual std::size_t read(std::uint8_t* out, std::size_t n) = 0;
};

class ByteSink {
  public:
    virtual ~ByteSink() = default;
    // Writes all n bytes or returns false.
    virtual bool write(const std::uint8_t* data, std::size_t n) = 0;
};

class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t read(std::uint8_t* out, std::size_t n) override;

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// Appends to a vector; a failed allocation makes the write fail.
class VectorSink final : public ByteSink {
  public:
    bool write(const std::uint8_t* data, std::size_t n) override;
    std::vector<std::uint8_t> bytes;
};

class FileSource final : public ByteSource {
  public:
    explicit FileSource(std::FILE* file) : file_(file) {}
    std::size_t read(std::uint8_t* out, std::size_t n) override;

  private:
    std::FILE* file_;
};

class FileSink final : public ByteSink {
  public:
    explicit FileSink(std::FILE* file) : file_(file) {}
    bool write(const std::uint8_t* data, std::size_t n) override;

  private:
    std::FILE* file_;
};

// Closes a FILE on scope exit unless released; close() reports whether the close succeeded.
class FileHandle {
  public:
    explicit FileHandle(std::FILE* file = nullptr) : file_(file) {}
    ~FileHandle() { close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    std::FILE* get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }
    bool close();
    // Takes `file`, closing the one held before.
    void reset(std::FILE* file) {
        close();
        file_ = file;
    }

  private:
    std::FILE* file_;
};

// The size of an open file in bytes (its end position), or nothing when it cannot be told.
// Leaves the position at the start.
std::optional<std::uint64_t> fileSize(std::FILE* file);

// Creates a new file for writing raw bytes, failing when the name already exists (no race with
// another creator). `exists` is set when that was the reason.
std::FILE* createExclusive(const std::string& path, bool& exists);

bool fileExists(const std::string& path);
bool removeFile(const std::string& path);

}  // namespace image
