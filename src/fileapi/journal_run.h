// Raw file-handle API: one journaled edit as it runs (or is recovered): the journal's reads and
// writes, the epochs, the saved copies, the records and samples, and who may open a journal.
#pragma once

#include <chrono>
#include <random>
#include <thread>
#include <cstdint>
#include <string>

#include "error/error_state.h"
#include "fileapi/journal_format.h"
#include "fileapi/space_move.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"

namespace qr::journal {

// ---- I/O helpers ------------------------------------------------------------------------------

// A failed flush reports the system's own code, as the final flush of a move always did.
inline bool failFlush() {
    setError(static_cast<int32_t>(sys::lastError()));
    return false;
}

inline bool failSystem() {
    setError(kErrSystem);
    return false;
}

inline bool journalWrite(void* hJournal, int64_t llPos, const unsigned char* pData, int64_t llSize) {
    uint32_t nWritten = 0;
    if (!sys::setFilePointer(hJournal, llPos, sys::kSeekBegin, nullptr) ||
        !sys::writeFile(hJournal, pData, static_cast<uint32_t>(llSize), &nWritten))
        return failSystem();
    return true;
}

// Reads exactly llSize bytes at llPos; *pbShort is set when the journal ends before.
inline bool journalRead(void* hJournal, int64_t llPos, unsigned char* pData, int64_t llSize, bool* pbShort) {
    uint32_t nRead = 0;
    if (!sys::setFilePointer(hJournal, llPos, sys::kSeekBegin, nullptr) ||
        !sys::readFile(hJournal, pData, static_cast<uint32_t>(llSize), &nRead))
        return failSystem();
    *pbShort = nRead != static_cast<uint32_t>(llSize);
    return true;
}

inline std::string folderOf(const std::string& sPath) {
    const std::size_t nSep = sPath.find_last_of("/\\");
    if (nSep == std::string::npos) return ".";
    return nSep == 0 ? sPath.substr(0, 1) : sPath.substr(0, nSep);
}

// ---- one journaled run --------------------------------------------------------------------------

// The journal of one edit while it runs (or is recovered): its handle, where it lives, the plan,
// and the move buffer.
class Run {
public:
    Run(void* hFile, void* hJournal, std::string sJournal, const Plan& plan, unsigned char* pBuffer,
        int64_t llBuffer)
        : m_hFile(hFile), m_hJournal(hJournal), m_sJournal(std::move(sJournal)), m_plan(plan),
          m_nHeaderSum(headerWords(plan)[kHeaderWords - 1]), m_pBuffer(pBuffer), m_llBuffer(llBuffer) {}

    // Step 1: saved copy of epoch 0, header and record 0, J, P.
    bool start() {
        const Epoch epoch = epochAt(m_plan, 0);
        Record record{kPhaseMove, 0, 0, epoch.llCopyPos, epoch.llCopyLength, 0};
        if (!saveCopy(epoch, 0, &record.nCopySum)) return false;
        unsigned char first[kHeaderSize + kRecordSize];
        encode(headerWords(m_plan), first);
        encode(recordWords(record, m_nHeaderSum), first + kHeaderSize);
        if (!journalWrite(m_hJournal, 0, first, sizeof first)) return false;
        if (!sys::flushFileData(m_hJournal)) return failFlush();
        if (!sys::flushFolder(folderOf(m_sJournal).c_str())) return failFlush();
        m_nNext = 1;
        return true;
    }

    // Recovery of a move epoch: puts R's band back into the file when its copy checks.
    bool restore(const Record& record) {
        m_nNext = record.nNumber + 1;
        m_sample = record;
        if (record.llCopyLength <= 0) return true;
        const int64_t llArea = kCopyBase + static_cast<int64_t>(record.nNumber % 2) * m_plan.llArea;
        Checksum sum(m_nHeaderSum);
        for (int64_t llOff = 0; llOff < record.llCopyLength; llOff += m_llBuffer) {
            const int64_t llPiece = std::min(m_llBuffer, record.llCopyLength - llOff);
            bool bShort = false;
            if (!journalRead(m_hJournal, llArea + llOff, m_pBuffer, llPiece, &bShort)) return false;
            if (bShort) return true;  // never flushed: the band is still in the file
            sum.update(m_pBuffer, static_cast<std::size_t>(llPiece));
        }
        if (sum.value() != record.nCopySum) return true;  // never flushed: the band is still in the file
        for (int64_t llOff = 0; llOff < record.llCopyLength; llOff += m_llBuffer) {
            const int64_t llPiece = std::min(m_llBuffer, record.llCopyLength - llOff);
            bool bShort = false;
            if (!journalRead(m_hJournal, llArea + llOff, m_pBuffer, llPiece, &bShort)) return false;
            const auto nPiece = static_cast<uint32_t>(llPiece);
            if (!QR_Seek(m_hFile, record.llCopyPos + llOff, sys::kSeekBegin) ||
                QR_Write(m_hFile, m_pBuffer, nPiece) != nPiece)
                return false;
        }
        return true;
    }

    // Steps 2 to 4 from the epoch at llDone (whose record is on the disk) on.
    bool moveFrom(int64_t llDone, ProgressReport& progress) {
        const SpaceEdit& e = m_plan.edit;
        while (llDone < e.llLength) {
            const Epoch epoch = epochAt(m_plan, llDone);
            WriteBack writeBack(m_hFile);
            if (!copyRange(m_hFile, m_pBuffer, m_llBuffer, epoch.llSrc, epoch.llDst, epoch.llLength, progress, &writeBack))
                return false;
            writeBack.flushPending();
            llDone += epoch.llLength;
            // The next epoch's copy goes to the other area and its source is not written by this
            // epoch, so it is saved while this epoch's writes are still on their way to the disk;
            // only its record waits for F.
            const bool bLast = llDone >= e.llLength;
            const Epoch next = bLast ? epoch : epochAt(m_plan, llDone);
            if (!takeSample(epoch)) return false;
            Record record{kPhaseMove, m_nNext, llDone, next.llCopyPos, next.llCopyLength, 0};
            withSample(&record);
            if (!bLast && !saveCopy(next, m_nNext, &record.nCopySum)) return false;
            if (!sys::flushFileData(m_hFile)) return failFlush();
            if (bLast) break;
            if (!writeRecord(record)) return false;
            if (!sys::flushFileData(m_hJournal)) return failFlush();
        }
        if (e.nKind == SpaceEdit::kMove) return true;
        Record finishRecord{kPhaseFinish, m_nNext, e.llLength, 0, 0, 0};
        withSample(&finishRecord);
        if (!writeRecord(finishRecord)) return false;
        if (!sys::flushFileData(m_hJournal)) return failFlush();
        return finish(progress);
    }

    // Step 3 after the finish record: the zero fill or the cut, F.
    bool finish(ProgressReport& progress) {
        const SpaceEdit& e = m_plan.edit;
        if (e.nKind == SpaceEdit::kAllocate) {
            if (!QR_Seek(m_hFile, e.llFillPos, sys::kSeekBegin)) return false;
            if (!writeZeros(m_hFile, e.llFillSize, progress)) return false;
        } else if (e.nKind == SpaceEdit::kFree) {
            if (!QR_Seek(m_hFile, e.llSizeAfter, sys::kSeekBegin)) return false;
            if (!sys::setEndOfFile(m_hFile)) return failSystem();
        }
        if (!sys::flushFileData(m_hFile)) return failFlush();
        return true;
    }

    // Step 4: done record, delete, close, P. The journal handle is closed whatever happens. It is
    // deleted while still locked, so that its name cannot meanwhile lead to a newer journal.
    bool close() {
        const bool bMarked = writeRecord({kPhaseDone, m_nNext, m_plan.edit.llLength, 0, 0, 0});
        const bool bDeleted = bMarked && sys::deleteOpenFile(m_hJournal, m_sJournal.c_str());
        const uint32_t nError = sys::lastError();
        sys::closeHandle(m_hJournal);
        m_hJournal = nullptr;
        if (!bMarked) return false;
        // With the done record written, a journal someone else removed is as good as removed.
        if (!bDeleted && nError != sys::kErrorNotFound) {
            sys::setLastError(nError);
            return failSystem();
        }
        if (!sys::flushFolder(folderOf(m_sJournal).c_str())) return failFlush();
        // The journal is gone for good: the mark goes too, but only while it is still ours: once
        // the name is free a second edit may take it and mark the file, and its mark must stay
        // for its own recovery. One left by a crash here names a journal that is not there any
        // more, and is ignored. What remains: a second edit that overwrites our mark (finding its
        // journal gone) between the read and the removal loses its mark, and a crash of that
        // edit is then refused as stale, never applied.
        std::string sValue;
        bool bFound = false;
        if (m_plan.bMarked && sys::fileMarkOf(m_hFile, kMarkName, &sValue, &bFound) && bFound &&
            sValue.compare(0, 17, markValue(m_plan.nNonce, {})) == 0)
            sys::removeFileMark(m_hFile, kMarkName);
        return true;
    }

    // Whether what the epochs before record already wrote is still in the file.
    bool sampleHolds(const Record& record) {
        if (record.llSampleLength <= 0) return true;
        if (record.llSampleLength > std::min(kSample, m_llBuffer)) return false;
        const auto nLength = static_cast<uint32_t>(record.llSampleLength);
        uint32_t nRead = 0;
        if (!QR_Seek(m_hFile, record.llSamplePos, sys::kSeekBegin) ||
            !sys::readFile(m_hFile, m_pBuffer, nLength, &nRead) || nRead != nLength)
            return false;
        Checksum sum(m_nHeaderSum);
        sum.update(m_pBuffer, nLength);
        return sum.value() == record.nSampleSum;
    }

    // After a failure: the journal stays, hot once its handle is closed.
    void abandon() {
        if (m_hJournal != nullptr) sys::closeHandle(m_hJournal);
        m_hJournal = nullptr;
    }

    // Recovery of the finish step: new records follow R's number, and carry its sample on.
    void continueAfter(const Record& record) {
        m_nNext = record.nNumber + 1;
        m_sample = record;
    }

private:
    // The sample of what epoch wrote: the first bytes of its destination, read back.
    bool takeSample(const Epoch& epoch) {
        const int64_t llLength = std::min({kSample, m_llBuffer, epoch.llLength});
        const auto nLength = static_cast<uint32_t>(llLength);
        uint32_t nRead = 0;
        if (!QR_Seek(m_hFile, epoch.llDst, sys::kSeekBegin)) return false;
        if (!sys::readFile(m_hFile, m_pBuffer, nLength, &nRead)) return failSystem();
        if (nRead != nLength) {
            setSystemError(sys::kErrorShortSource);
            return false;
        }
        Checksum sum(m_nHeaderSum);
        sum.update(m_pBuffer, nLength);
        m_sample.llSamplePos = epoch.llDst;
        m_sample.llSampleLength = llLength;
        m_sample.nSampleSum = sum.value();
        return true;
    }
    void withSample(Record* pRecord) const {
        pRecord->llSamplePos = m_sample.llSamplePos;
        pRecord->llSampleLength = m_sample.llSampleLength;
        pRecord->nSampleSum = m_sample.nSampleSum;
    }

    // Saves the epoch's band (if any) into copy area nNumber % 2; *pnSum is its checksum.
    bool saveCopy(const Epoch& epoch, uint64_t nNumber, uint64_t* pnSum) {
        Checksum sum(m_nHeaderSum);
        const int64_t llArea = kCopyBase + static_cast<int64_t>(nNumber % 2) * m_plan.llArea;
        WriteBack writeBack(m_hJournal);
        for (int64_t llOff = 0; llOff < epoch.llCopyLength; llOff += m_llBuffer) {
            const int64_t llPiece = std::min(m_llBuffer, epoch.llCopyLength - llOff);
            const auto nPiece = static_cast<uint32_t>(llPiece);
            if (!QR_Seek(m_hFile, epoch.llCopyPos + llOff, sys::kSeekBegin)) return false;
            if (QR_Read(m_hFile, m_pBuffer, nPiece) != nPiece) {
                // The source lies inside the file: a short read means it changed under us.
                if (GetDllErrorNo() != kErrSystem) setSystemError(sys::kErrorInvalidArgument);
                return false;
            }
            sum.update(m_pBuffer, nPiece);
            if (!journalWrite(m_hJournal, llArea + llOff, m_pBuffer, llPiece)) return false;
            writeBack.wrote(llArea + llOff, llPiece);
        }
        writeBack.flushPending();
        *pnSum = sum.value();
        return true;
    }

    bool writeRecord(const Record& record) {
        unsigned char bytes[kRecordSize];
        encode(recordWords(record, m_nHeaderSum), bytes);
        const int64_t llSlot = kSlotBase + static_cast<int64_t>(record.nNumber % 2) * kRecordSize;
        if (!journalWrite(m_hJournal, llSlot, bytes, kRecordSize)) return false;
        m_nNext = record.nNumber + 1;
        return true;
    }

    void* m_hFile;
    void* m_hJournal;
    std::string m_sJournal;
    Plan m_plan;
    uint64_t m_nHeaderSum;
    unsigned char* m_pBuffer;
    int64_t m_llBuffer;
    uint64_t m_nNext = 0;
    Record m_sample;  // the sample of the last epoch this run (or the record it goes on from) made
};

// The move buffer of one call, released on every return.
class MoveBuffer {
public:
    explicit MoveBuffer(int64_t llLength) : m_llSize(std::min(kMoveChunk, llLength)) {
        m_pBytes = static_cast<unsigned char*>(sys::memAlloc(static_cast<std::size_t>(m_llSize)));
    }
    ~MoveBuffer() { sys::memFree(m_pBytes); }
    MoveBuffer(const MoveBuffer&) = delete;
    MoveBuffer& operator=(const MoveBuffer&) = delete;
    unsigned char* data() const { return m_pBytes; }
    int64_t size() const { return m_llSize; }

private:
    int64_t m_llSize;
    unsigned char* m_pBytes = nullptr;
};

// ---- who may open a journal ----------------------------------------------------------------------

enum class Opened { kHot, kNone, kBusy, kNotOurs, kWaits, kFailed };

// A journal is believed only when its owner is the data file's and nobody else may open it:
// nobody but that owner (or the administrator) can have written it.
inline bool trusted(const sys::FileOwnership& journal, const sys::FileOwnership& data) {
    return journal.bRegular && journal.bOwnerOnly && journal.nLinks == 1 && journal.sOwner == data.sOwner;
}

// What is at sJournal, when it could not be opened, or was found by its name only.
inline Opened classifyByName(const std::string& sJournal, const sys::FileOwnership& data, Opened ours) {
    sys::FileOwnership journal;
    if (!sys::pathOwnership(sJournal.c_str(), &journal)) {
        const uint32_t nError = sys::lastError();
        if (nError == sys::kErrorNotFound) return Opened::kNone;
        // Closed even to a look at its owner (Windows): the file's owner may look at anything of
        // theirs, so for them it is someone else's; anyone else cannot tell, and must not take
        // a half-edited file for a whole one.
        if (nError == sys::kErrorAccessDenied && sys::processOwner() != data.sOwner) return ours;
        return Opened::kNotOurs;
    }
    return trusted(journal, data) ? ours : Opened::kNotOurs;
}

// Opens the journal at sJournal of a file owned as data, locked: kHot with *phJournal; kNone
// (there is none), kBusy (locked by an edit running right now), kNotOurs (something that is not
// the owner's private journal: left alone), kWaits (the owner's journal, which this caller may
// not open) or kFailed (reported).
inline Opened openJournal(const std::string& sJournal, const sys::FileOwnership& data, void** phJournal) {
    *phJournal = sys::createPrivateFile(sJournal.c_str(), sys::kGenericRead | sys::kGenericWrite, 0, sys::kOpenExisting);
    if (sys::isValidHandle(*phJournal)) {
        sys::FileOwnership journal;
        if (!sys::fileOwnership(*phJournal, &journal)) {
            failSystem();
            sys::closeHandle(*phJournal);
            return Opened::kFailed;
        }
        if (trusted(journal, data)) return Opened::kHot;
        sys::closeHandle(*phJournal);
        return Opened::kNotOurs;
    }
    const uint32_t nError = sys::lastError();
    if (nError == sys::kErrorNotFound) return Opened::kNone;
    if (nError == sys::kErrorJournalNotOurs) return Opened::kNotOurs;
    // Someone else's object may be locked by them, or closed to us: only the owner's counts.
    if (nError == sys::kErrorSharingViolation) return classifyByName(sJournal, data, Opened::kBusy);
    if (nError == sys::kErrorAccessDenied) return classifyByName(sJournal, data, Opened::kWaits);
    failSystem();
    return Opened::kFailed;
}

// How long an edit waits for someone else's brief look at the journal's name to end: an open
// elsewhere that holds a finished journal while it removes it, or that opened the edit's new
// journal in the instant between its creation and its lock (and so found it empty and removes it).
constexpr int kLookTries = 200;
constexpr auto kLookPause = std::chrono::milliseconds(5);

// Creates the journal at sJournal of a file owned as data, locked; kInvalidHandle with the last
// error set (kErrorJournalNotOurs at once when the name holds something not ours).
inline void* createJournal(const std::string& sJournal, const sys::FileOwnership& data) {
    for (int nTry = 0;; ++nTry) {
        void* hJournal = sys::createPrivateFile(sJournal.c_str(), sys::kGenericRead | sys::kGenericWrite, 0, sys::kCreateNew);
        if (sys::isValidHandle(hJournal)) return hJournal;
        const uint32_t nError = sys::lastError();
        const bool bLooked = nError == sys::kErrorSharingViolation || nError == sys::kErrorAlreadyExists ||
                             nError == sys::kErrorFileExists;
        if (bLooked && nError != sys::kErrorSharingViolation &&
            classifyByName(sJournal, data, Opened::kHot) == Opened::kNotOurs) {
            sys::setLastError(sys::kErrorJournalNotOurs);
            return hJournal;
        }
        if (!bLooked || nTry + 1 >= kLookTries) return hJournal;
        std::this_thread::sleep_for(kLookPause);
    }
}

// The journal the mark of the file at sPath names ("" for none): only a regular file named as a
// journal. Leaves the last error.
std::string markedJournal(const std::string& sPath);

// Creates a journal aside from the usual name *psJournal, which holds something not ours: at
// ".NAME.<16 random hex digits>.qrjournal" in the same folder, exclusively, so that anything
// planted at a name tried only makes the next try; *psJournal becomes the name used.
// kInvalidHandle with the last error set.
inline void* createJournalAside(std::string* psJournal) {
    const std::string& sUsual = *psJournal;
    const std::string sSuffix = ".qrjournal";
    const bool bSuffixed = sUsual.size() >= sSuffix.size() &&
                           sUsual.compare(sUsual.size() - sSuffix.size(), sSuffix.size(), sSuffix) == 0;
    const std::string sStem = bSuffixed ? sUsual.substr(0, sUsual.size() - sSuffix.size()) : sUsual;
    std::random_device random;
    void* hJournal = sys::kInvalidHandle;
    for (int nTry = 0; nTry < 8; ++nTry) {
        uint64_t nValue = (static_cast<uint64_t>(random()) << 32) ^ random();
        char szHex[17];
        for (int i = 15; i >= 0; --i, nValue >>= 4) szHex[i] = "0123456789abcdef"[nValue & 15];
        szHex[16] = '\0';
        const std::string sTry = sStem + "." + szHex + sSuffix;
        hJournal = sys::createPrivateFile(sTry.c_str(), sys::kGenericRead | sys::kGenericWrite, 0, sys::kCreateNew);
        if (sys::isValidHandle(hJournal)) {
            *psJournal = sTry;
            return hJournal;
        }
        const uint32_t nError = sys::lastError();
        if (nError != sys::kErrorAlreadyExists && nError != sys::kErrorFileExists && nError != sys::kErrorJournalNotOurs)
            break;
    }
    return hJournal;
}

}  // namespace qr::journal
