#pragma once
// Encryption of a large file whose pieces are compressed in parallel.
//
// CTR mode can encrypt any piece on its own once the piece knows where it starts in the entry's
// compressed stream, but that offset is the sum of the compressed sizes before it, and the
// authentication code must see the encrypted bytes in order. So every piece, once compressed,
// is offered here; the thread whose piece is next in order seals it (encrypts it at its offset,
// adds it to the running code) and goes on with every following piece that is already waiting,
// then leaves the role to whichever thread finishes the next piece. The sealing thus runs on the
// worker threads, in order, beside the compression of later pieces, and never on the writer,
// which only waits until the piece it is about to write is sealed.
//
// The first piece gets the salt and the verification value in front of it, the piece that ends
// the file the authentication code behind it. A piece that failed (unreadable file) ends the
// sealing: the writer drops the entry, and the pieces after it pass through untouched.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "archive/aes_zip.hpp"
#include "zipengine/deflate_chunk.hpp"

namespace sejfko::zipengine {

struct TZipJob;

class TEntrySealer {
public:
    // `pieces`: how many pieces the file was cut into (each is offered once).
    TEntrySealer(const std::string& password, size_t pieces)
        : FPassword(password), FWaiting(pieces, nullptr) {}
    TEntrySealer(const TEntrySealer&) = delete;
    TEntrySealer& operator=(const TEntrySealer&) = delete;

    // Called by the thread that compressed `job` (piece job.Piece of this file), once.
    void Offer(TZipJob& job);
    // Blocks until `job`, already offered, is sealed.
    void WaitSealed(const TZipJob& job);

private:
    void Seal(TZipJob& job);

    const std::string& FPassword;
    std::mutex FLock;
    std::condition_variable FSealed;
    std::vector<TZipJob*> FWaiting;  // by piece: offered, not yet sealed (allocated up front, so
                                     // that offering never fails on a worker)
    size_t FNext = 0;                // the piece to seal next
    bool FSealing = false;           // a thread holds the role

    // Touched only by the thread holding the role.
    aeszip::TAesCipher FCipher;
    uint64_t FOffset = 0;  // compressed bytes sealed so far
    bool FOver = false;    // the entry is complete or dropped
};

// Encrypts a whole entry's data in place (`data` holds the compressed or stored bytes) and frames
// it: salt and verification value before, authentication code after. False when OpenSSL fails.
bool SealWhole(aeszip::TAesCipher& cipher, const std::string& password, TBuffer& data);

}  // namespace sejfko::zipengine
