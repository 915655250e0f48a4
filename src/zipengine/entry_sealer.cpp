#include "zipengine/entry_sealer.hpp"

#include <new>

#include "zipengine/zip_job.hpp"

namespace sejfko::zipengine {

namespace {

constexpr size_t SaltSize = 16;
constexpr size_t HeaderSize = SaltSize + aeszip::VerifierSize;

// Salt and verification value of a new entry, with the cipher started on its keys.
bool StartEntry(aeszip::TAesCipher& cipher, const std::string& password, uint8_t* header) {
    aeszip::TAesKeys keys;
    if (!aeszip::RandomSalt(header, SaltSize) ||
        !aeszip::DeriveKeys(password, header, aeszip::Strength256, keys) || !cipher.Start(keys)) {
        return false;
    }
    std::copy(keys.Verifier, keys.Verifier + aeszip::VerifierSize, header + SaltSize);
    return true;
}

bool AppendMac(aeszip::TAesCipher& cipher, TBuffer& data) {
    uint8_t mac[aeszip::MacSize];
    if (!cipher.FinishMac(mac)) {
        return false;
    }
    data.insert(data.end(), mac, mac + sizeof mac);
    return true;
}

}  // namespace

bool SealWhole(aeszip::TAesCipher& cipher, const std::string& password, TBuffer& data) {
    uint8_t header[HeaderSize];
    if (!StartEntry(cipher, password, header) || !cipher.Crypt(data.data(), data.size(), 0) ||
        !cipher.Authenticate(data.data(), data.size())) {
        return false;
    }
    data.insert(data.begin(), header, header + sizeof header);
    return AppendMac(cipher, data);
}

void TEntrySealer::Offer(TZipJob& job) {
    std::unique_lock lock(FLock);
    FWaiting.at(job.Piece) = &job;
    if (FSealing) {
        return;  // the thread sealing now takes it when its turn comes
    }
    FSealing = true;
    while (FNext < FWaiting.size() && FWaiting[FNext] != nullptr) {
        TZipJob& next = *FWaiting[FNext];
        FWaiting[FNext] = nullptr;
        lock.unlock();
        Seal(next);
        lock.lock();
        next.Sealed = true;
        ++FNext;
        FSealed.notify_all();
    }
    FSealing = false;
}

void TEntrySealer::WaitSealed(const TZipJob& job) {
    std::unique_lock lock(FLock);
    FSealed.wait(lock, [&] { return job.Sealed; });
}

void TEntrySealer::Seal(TZipJob& job) {
    if (FOver) {
        return;
    }
    if (job.Outcome != EJobOutcome::Ok || job.Failed) {
        FOver = true;
        return;
    }
    try {
        uint8_t header[HeaderSize];
        const bool first = job.Piece == 0;
        if ((first && !StartEntry(FCipher, FPassword, header)) ||
            !FCipher.Crypt(job.Output.data(), job.Output.size(), FOffset) ||
            !FCipher.Authenticate(job.Output.data(), job.Output.size())) {
            job.CipherFailed = true;
            FOver = true;
            return;
        }
        FOffset += job.Output.size();
        if (first) {
            job.Output.insert(job.Output.begin(), header, header + sizeof header);
        }
        if (job.Ended) {
            FOver = true;
            job.CipherFailed = !AppendMac(FCipher, job.Output);
        }
    } catch (const std::bad_alloc&) {
        job.Failed = true;
        FOver = true;
    }
}

}  // namespace sejfko::zipengine
