#pragma once
// The byte streams a connection sends from and receives into: a local file being uploaded, a
// listing held in memory, a file being downloaded. Failures of the stream itself raise EOSError
// (files) or ENetInvalidReply (a listing over its bound).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_io.hpp"

namespace sejfko {

class TNetSource {
public:
    virtual ~TNetSource() = default;
    virtual void Rewind() = 0;
    // Bytes from the current position to the end.
    virtual int64_t Remaining() const = 0;
    // Up to `size` bytes; 0 only at the end.
    virtual std::size_t Read(void* buffer, std::size_t size) = 0;
};

class TNetSink {
public:
    virtual ~TNetSink() = default;
    virtual void Write(const char* data, std::size_t size) = 0;
};

// A local file opened for reading (other programs may still read and write it); its size as
// it was at opening is what is sent.
class TFileSource final : public TNetSource {
public:
    // Raises EOSError when the file cannot be opened.
    explicit TFileSource(const std::string& path);
    void Rewind() override;
    int64_t Remaining() const override;
    std::size_t Read(void* buffer, std::size_t size) override;

private:
    TReadFile FFile;
    int64_t FPosition = 0;
};

// Bytes held in memory, refusing more than `limit` with ENetInvalidReply(`tooLongText`).
class TStringSink final : public TNetSink {
public:
    TStringSink(std::size_t limit, std::string tooLongText)
        : FLimit(limit), FTooLongText(std::move(tooLongText)) {}
    void Write(const char* data, std::size_t size) override;
    const std::string& Text() const { return FText; }

private:
    std::size_t FLimit;
    std::string FTooLongText;
    std::string FText;
};

// A file written beside its target and put in place only by Commit, so a broken download never
// replaces or leaves a file.
class TFileSink final : public TNetSink {
public:
    explicit TFileSink(const std::string& path);
    ~TFileSink() override;
    void Write(const char* data, std::size_t size) override;
    void Commit();

private:
    std::unique_ptr<TAtomicFileWriter> FWriter;
};

}  // namespace sejfko
