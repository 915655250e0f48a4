#include "transfer/net_stream.hpp"

#include <algorithm>

#include "platform/exceptions.hpp"
#include "platform/file_system.hpp"
#include "transfer/net_errors.hpp"

namespace sejfko {

TFileSource::TFileSource(const std::string& path) {
    if (!FFile.Open(path)) {
        throw EOSError(FFile.Error(), "Soubor \"" + path +
                                          "\" nelze otevřít: " + SystemErrorMessage(FFile.Error()));
    }
}

void TFileSource::Rewind() {
    FPosition = 0;
}

int64_t TFileSource::Remaining() const {
    return std::max<int64_t>(0, FFile.Size() - FPosition);
}

std::size_t TFileSource::Read(void* buffer, std::size_t size) {
    // Never past the size announced at opening: a file growing meanwhile must not send more
    // bytes than the work events promised.
    size = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(size), Remaining()));
    if (size == 0) {
        return 0;
    }
    std::ptrdiff_t got = FFile.ReadAt(FPosition, buffer, size);
    if (got < 0) {
        throw EOSError(FFile.Error(), "Soubor \"" + FFile.Path() +
                                          "\" nelze přečíst: " + SystemErrorMessage(FFile.Error()));
    }
    FPosition += got;
    return static_cast<std::size_t>(got);
}

void TStringSink::Write(const char* data, std::size_t size) {
    if (size > FLimit - FText.size()) {
        throw ENetInvalidReply(FTooLongText);
    }
    FText.append(data, size);
}

TFileSink::TFileSink(const std::string& path)
    : FWriter(std::make_unique<TAtomicFileWriter>(path)) {}

TFileSink::~TFileSink() = default;

void TFileSink::Write(const char* data, std::size_t size) {
    FWriter->Write(std::string_view(data, size));
}

void TFileSink::Commit() {
    FWriter->Commit();
}

}  // namespace sejfko
