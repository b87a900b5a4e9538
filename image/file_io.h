// Small file helpers shared by every reader and writer of the engines: byte sources and sinks, so
// the codecs run on memory in tests and the fuzzer and on FILE streams in the programs, the few
// calls that differ between POSIX and Win32 (64-bit sizes, exclusive creation, names), and the
// safe replacement of an output file.
//
// Paths are UTF-8. The Windows build opens them by their wide form, so any file name works; a
// path that is not valid UTF-8 is taken in the ANSI code page, as the programs' older callers
// pass it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/utf8_fopen.h"

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

// Moves to a 64-bit position from the start of the file.
bool seekTo(std::FILE* file, std::uint64_t position);

// Reading at any position of a source of known size: the readers of series and stacks seek to
// the one image they need instead of holding the whole file.
class RandomAccessSource {
  public:
    virtual ~RandomAccessSource() = default;
    virtual std::uint64_t size() const = 0;
    // Reads exactly n bytes at `offset`; false when they are not all there or the read failed.
    virtual bool readAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) = 0;
};

class MemoryAccess final : public RandomAccessSource {
  public:
    explicit MemoryAccess(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool readAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) override;

  private:
    std::span<const std::uint8_t> bytes_;
};

// Over an open file, which stays the caller's.
class FileAccess final : public RandomAccessSource {
  public:
    FileAccess(std::FILE* file, std::uint64_t size) : file_(file), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) override;

  private:
    std::FILE* file_;
    std::uint64_t size_;
};

// Creates a new file for writing raw bytes, failing when the name already exists (no race with
// another creator). `exists` is set when that was the reason.
std::FILE* createExclusive(const std::string& path, bool& exists);

bool fileExists(const std::string& path);
bool removeFile(const std::string& path);

// The system's folder for temporary files, ending in a separator; "" when there is none.
std::string systemTemporaryFolder();


// An output file written under a temporary name in its target's folder and moved over the target
// only after every byte was written, flushed and closed, and the size on disk checked (some C
// runtimes report a short write on a full disk as complete). Until then the target stays as it
// was, and a failure removes only the temporary file. A target that is a symbolic link is
// resolved, so the file it points at is replaced and the link stays; a replaced file keeps its
// permissions. A target that exists but may not be written (read-only, a folder) is refused at
// open(), as opening it for writing would be.
class ReplacingFile final : public ByteSink {
  public:
    ReplacingFile() = default;
    ~ReplacingFile() { discard(); }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Creates the temporary file for `target`; false when that cannot be done.
    bool open(const std::string& target);
    bool write(const std::uint8_t* data, std::size_t n) override;
    bool write(std::string_view bytes) {
        return write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    // Flushes, closes and checks the temporary file: true when every byte written is on disk.
    bool finish();
    // Moves the finished temporary file over the target.
    bool replaceTarget();
    // finish() and replaceTarget(); on failure the temporary file is removed.
    bool commit();
    // Closes and removes the temporary file unless it replaced the target.
    void discard();

    const std::string& temporaryPath() const { return temp_; }

  private:
    std::string target_;  // resolved through symbolic links
    std::string temp_;
    std::FILE* file_ = nullptr;
    std::uint64_t written_ = 0;
    bool ok_ = false;
    bool finished_ = false;
};

// Writes `bytes` to `path` through a ReplacingFile.
bool replaceFileContents(const std::string& path, std::string_view bytes);

// Several output files that belong together (slice files, pages): each is written to its own
// temporary file; only when all were written are they moved into place, and a failure before
// that removes every temporary file and leaves all targets as they were.
class ReplacingSet {
  public:
    // A new member for `target`, open for writing, or nullptr when it cannot be created.
    ReplacingFile* add(const std::string& target);
    // Finishes every member, then moves them all into place.
    bool commit();
    void discard();

  private:
    std::vector<std::unique_ptr<ReplacingFile>> files_;
};

// The temporary files this process has open (a normalised bitmap, a replacement in the making),
// so that a tool interrupted by the user (Ctrl+C, a terminal closed) removes them before it ends.
// The list has a fixed size and only plain characters, so a signal handler may walk it.
void registerTemporary(const std::string& path);
void unregisterTemporary(const std::string& path);
// Removes every registered file; safe to call from a POSIX signal handler.
void removeRegisteredTemporaries();

// Holds back the interruptions the tools catch (SIGINT, SIGTERM, SIGHUP) while it lives, so that
// none lands between a temporary file's creation and its registration.
class InterruptionsHeld {
  public:
    InterruptionsHeld();
    ~InterruptionsHeld();
    InterruptionsHeld(const InterruptionsHeld&) = delete;
    InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;
};

// Where the pieces of a safe replacement differ between POSIX and Win32.
namespace platform {
// The file a write to `path` must replace: symbolic links followed.
std::string resolveTarget(const std::string& path);
// False when `path` exists but is not a regular file this process may write.
bool mayReplace(const std::string& path);
// Creates a new temporary file in the folder of `target`, with the permissions of `target` when
// it exists.
std::FILE* createTemporaryBeside(const std::string& target, std::string& temp);
// Flushes the stream to the disk and closes it.
bool flushAndClose(std::FILE* file);
std::optional<std::uint64_t> sizeOnDisk(const std::string& path);
bool moveOver(const std::string& temp, const std::string& target);
// Removes a file by its name, with nothing but a system call (for a signal handler).
void removeNow(const char* path);
}  // namespace platform

}  // namespace image
