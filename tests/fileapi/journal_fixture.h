// The fixture of the journal's trust tests: a data file in a scratch folder, its journal's name,
// and journals planted as an edit killed before its first move would leave them.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "error/error_state.h"
#include "fileapi/edit_journal.h"
#include "fileapi/space_functions.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"
#include "space_model.h"
#include "support/notices.h"
#include "support/scratch.h"

class JournalTrust : public ::testing::Test {
protected:
    void SetUp() override {
        ShowErrorWin();
        ReportError(0);
        qr::sys::clearFaults();
        qr::setSpaceFastPath(false);
        m_sPath = dir.file("data.dat");
        m_sJournal = qr::journalPathFor(qr::sys::finalPath(dir.path().c_str()) + qr::sys::kPathSeparator + "data.dat");
    }
    void TearDown() override {
        qr::setSpaceFastPath(true);
        QR_SetSpaceJournal(true);
    }
    // Writes bytes as the data file and leaves the journal of edit beside it.
    void plant(const fileapitest::Bytes& bytes, const qr::SpaceEdit& edit) {
        std::remove(m_sJournal.c_str());
        qrtest::writeFileBytes(m_sPath, bytes);
        void* hFile = nullptr;
        ASSERT_TRUE(QR_OpenFile(&hFile, m_sPath.c_str(), 0));
        ASSERT_TRUE(qr::leaveJournalOf(hFile, edit)) << GetDllErrorNo();
        QR_CloseFile(hFile);
    }

    // Writes bytes as the data file and leaves a hot journal of a real insertion of 100 bytes at
    // 10, interrupted at the edit's nFlush-th flush (the 5th: the first stretch is made and the
    // record after it written, not flushed). bAside: junk others may read holds the usual name.
    void interrupt(const fileapitest::Bytes& bytes, int nFlush = 5, bool bAside = false) {
        std::remove(m_sJournal.c_str());
        if (bAside) qrtest::writeFileText(m_sJournal, "junk others may read");
        qrtest::writeFileBytes(m_sPath, bytes);
        qr::setJournalWindow(16 * 1024);
        void* hFile = nullptr;
        ASSERT_TRUE(QR_OpenFile(&hFile, m_sPath.c_str(), 0));
        qr::sys::injectFault(qr::sys::Op::Flush, nFlush, 5);
        ASSERT_FALSE(AllocateDiskSpace(hFile, 10, 100));
        qr::sys::clearFaults();
        QR_CloseFile(hFile);
        qr::setJournalWindow(0);
        ASSERT_TRUE(qrtest::fileExists(m_sJournal));
    }
    static fileapitest::Bytes inserted(fileapitest::Bytes bytes) {
        fileapitest::modelAllocate(bytes, 10, 100);
        return bytes;
    }

    qrtest::ScratchDir dir;
    qrtest::RecordingNotices notices{false};
    std::string m_sPath;
    std::string m_sJournal;
};
