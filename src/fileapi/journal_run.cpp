// Raw file-handle API: a journaled edit from start to end: the journal created owner-only and
// handed to the file's owner, the space reserved, the file marked, then the run of the plan.
#include <algorithm>
#include <random>
#include <string>

#include "fileapi/edit_journal.h"
#include "fileapi/journal_run.h"

namespace qr {

using namespace journal;

namespace {
// Sets the mark sMark on hFile for the edit whose journal is sJournal: only where the file carries
// none, or one whose journal no edit holds now (left by a crash, or left alone by the recovery
// that just ran). The usual name's exclusive create alone does not keep a second edit out: one
// aside has no usual name, one through another hard link has another, and one that meets a
// journal root made for a user's file, in the instant before it is handed to the owner, takes it
// for something not ours and goes aside. A mark naming sJournal itself is a crash's leftover.
// The mark is written once either way (a look first, then an exclusive set where there was none).
// False with the last error set (kErrorSharingViolation: an edit of the file runs right now).
bool markFile(void* hFile, const std::string& sPath, const std::string& sJournal, const std::string& sMark,
              const sys::FileOwnership& data) {
    bool bFound = false;
    if (!sys::fileMarkOf(hFile, kMarkName, nullptr, &bFound)) return false;
    if (!bFound && sys::setFileMark(hFile, kMarkName, sMark, true)) return true;
    if (!bFound && sys::lastError() != sys::kErrorFileExists) return false;
    const std::string sOther = markedJournal(sPath);
    void* hOther = nullptr;
    const Opened other = sOther.empty() || sOther == sJournal ? Opened::kNone : openJournal(sOther, data, &hOther);
    if (other == Opened::kHot) sys::closeHandle(hOther);
    if (other == Opened::kBusy) sys::setLastError(sys::kErrorSharingViolation);
    if (other == Opened::kBusy || other == Opened::kFailed) return false;
    return sys::setFileMark(hFile, kMarkName, sMark);
}
}  // namespace

bool runJournaledEdit(void* hFile, const SpaceEdit& edit, ProgressReport& progress) {
    const std::string sPath = sys::finalPathOf(hFile);
    if (sPath.empty()) {
        if (sys::lastError() != sys::kErrorNotFound) return failSystem();
        // Deleted while open: no one can ever open it again, so there is nothing to recover.
        MoveBuffer buffer(edit.llLength);
        if (buffer.data() == nullptr) {
            setError(kErrNoMemory);
            return false;
        }
        if (!sys::reserveFileSpace(hFile, std::max(edit.llSizeAfter, edit.llDst + edit.llLength))) return failSystem();
        if (!copyRange(hFile, buffer.data(), buffer.size(), edit.llSrc, edit.llDst, edit.llLength, progress)) return false;
        Plan plan = makePlan(edit, {});
        Run run(hFile, nullptr, {}, plan, buffer.data(), buffer.size());
        return run.finish(progress);
    }
    sys::FileIdentity identity;
    if (!sys::fileIdentity(hFile, &identity)) return failSystem();
    std::string sJournal = journalPathFor(sPath);

    MoveBuffer buffer(edit.llLength);
    if (buffer.data() == nullptr) {
        setError(kErrNoMemory);
        return false;
    }
    sys::FileOwnership data;
    if (!sys::fileOwnership(hFile, &data)) return failSystem();
    void* hJournal = createJournal(sJournal, data);
    bool bAside = false;
    if (!sys::isValidHandle(hJournal)) {
        // The name is taken: by the owner's own journal (an edit running right now), or by
        // something no recovery would believe, which the edit must not use or remove: then the
        // journal goes aside, under a name no one can foresee, which only the mark will name.
        const uint32_t nError = sys::lastError();
        if (nError != sys::kErrorJournalNotOurs && classifyByName(sJournal, data, Opened::kHot) != Opened::kNotOurs) {
            sys::setLastError(nError);
            return failSystem();
        }
        hJournal = createJournalAside(&sJournal);
        if (!sys::isValidHandle(hJournal)) return failSystem();
        bAside = true;
    }
    // Until the file is first written, a failure takes the journal away again: the file is as it
    // was. (Should the delete fail, the journal describes an edit that recovery can still make.)
    // Removed while still locked, as every journal is (see sys::deleteOpenFile).
    const auto discard = [&] {
        const uint32_t nSaved = sys::lastError();
        sys::deleteOpenFile(hJournal, sJournal.c_str());
        sys::closeHandle(hJournal);
        sys::setLastError(nSaved);
    };
    // A journal is believed only when it is the data file's owner's: one made by the
    // administrator is handed over; anyone else cannot make one.
    if (!sys::giveFileTo(hJournal, data.sOwner)) {
        discard();
        if (sys::lastError() != sys::kErrorAccessDenied) return failSystem();
        setSystemError(sys::kErrorJournalNotOwner);
        return false;
    }
    // Everything the edit will write past an end, the journal's second copy area included, is
    // given blocks before the first byte moves: a full disk then fails here, with the file as it
    // was and no journal. The journal first: its blocks go with it when it is discarded.
    Plan plan = makePlan(edit, identity);
    plan.nNonce = (static_cast<uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}();
    if (!sys::reserveFileSpace(hJournal, journalSize(plan)) ||
        !sys::reserveFileSpace(hFile, std::max(edit.llSizeAfter, edit.llDst + edit.llLength))) {
        discard();
        return failSystem();
    }
    // The mark goes on the file (and to the disk) before its first byte moves, so that a journal
    // is applied only to the file it was written for, whatever name leads to it now.
    if (markFile(hFile, sPath, sJournal, markValue(plan.nNonce, sJournal), data)) {
        plan.bMarked = true;
        if (!sys::flushFileBuffers(hFile)) {
            sys::removeFileMark(hFile, kMarkName);
            discard();
            return failFlush();
        }
    } else if (sys::lastError() != sys::kErrorNotSupported) {
        discard();
        return failSystem();
    } else if (bAside) {
        // Without a mark nothing could find a journal aside after a crash: the edit must not run.
        discard();
        setSystemError(sys::kErrorJournalNotOurs);
        return false;
    }
    Run run(hFile, hJournal, sJournal, plan, buffer.data(), buffer.size());
    if (!run.start()) {
        if (plan.bMarked) sys::removeFileMark(hFile, kMarkName);
        discard();
        return false;
    }
    if (!run.moveFrom(0, progress)) {
        run.abandon();
        return false;
    }
    return run.close();
}

bool leaveJournalOf(void* hFile, const SpaceEdit& edit) {
    const std::string sPath = sys::finalPathOf(hFile);
    sys::FileIdentity identity;
    if (sPath.empty() || !sys::fileIdentity(hFile, &identity)) return failSystem();
    const Plan plan = makePlan(edit, identity);
    const Epoch epoch = epochAt(plan, 0);
    unsigned char first[kHeaderSize + kRecordSize];
    encode(headerWords(plan), first);
    encode(recordWords({kPhaseMove, 0, 0, epoch.llCopyPos, epoch.llCopyLength, 0}, headerWords(plan)[kHeaderWords - 1]),
           first + kHeaderSize);
    void* hJournal = sys::createPrivateFile(journalPathFor(sPath).c_str(), sys::kGenericRead | sys::kGenericWrite, 0,
                                            sys::kCreateNew);
    if (!sys::isValidHandle(hJournal)) return failSystem();
    const bool bOk = journalWrite(hJournal, 0, first, sizeof first);
    sys::closeHandle(hJournal);
    return bOk;
}

}  // namespace qr
