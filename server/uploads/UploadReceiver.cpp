#include "UploadReceiver.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "UploadName.h"

namespace {
// A form's name taken this many times over is refused rather than searched on.
constexpr unsigned kMaxNumbered = 999;
}  // namespace

bool IsRefusedByFolder(int nError) {
    return nError == EACCES || nError == EPERM || nError == EROFS;
}

CUploadReceiver::CUploadReceiver(int hFolder, uint64_t nLength, StoredHook stored)
    : m_hFolder(hFolder), m_nLength(nLength), m_stored(std::move(stored)) {}

CUploadReceiver::~CUploadReceiver() {
    m_pFile.reset();  // the unfinished file goes before its folder closes
    if (m_hFolder >= 0) {
        ::close(m_hFolder);
    }
}

std::unique_ptr<CUploadReceiver> CUploadReceiver::ForFile(int hFolder, std::string strName,
                                                          uint64_t nLength, StoredHook stored) {
    std::unique_ptr<CUploadReceiver> pReceiver(
        new CUploadReceiver(hFolder, nLength, std::move(stored)));
    pReceiver->m_strName = std::move(strName);
    return pReceiver;
}

std::unique_ptr<CUploadReceiver> CUploadReceiver::ForForm(int hFolder, std::string strBoundary,
                                                          uint64_t nLength, StoredHook stored) {
    std::unique_ptr<CUploadReceiver> pReceiver(
        new CUploadReceiver(hFolder, nLength, std::move(stored)));
    pReceiver->m_pForm = std::make_unique<CMultipartReader>(std::move(strBoundary));
    return pReceiver;
}

bool CUploadReceiver::Begin() {
    if (m_pForm) {
        return true;  // a form's files begin with their parts
    }
    m_pFile = std::make_unique<CUploadFile>();
    if (!m_pFile->Open(m_hFolder)) {
        const int nError = errno;
        m_pFile.reset();
        errno = nError;
        return false;
    }
    return true;
}

bool CUploadReceiver::Take(std::string_view bytes) {
    bytes = bytes.substr(0, static_cast<size_t>(std::min<uint64_t>(bytes.size(), Remaining())));
    m_nReceived += bytes.size();
    if (m_bEnded) {
        return false;
    }
    if (m_pForm) {
        if (!m_pForm->Ended() && !m_pForm->Feed(bytes, *this)) {
            EndEarly(SUploadOutcome::EEnd::BadForm);
        }
    } else {
        Write(bytes);
    }
    return !m_bEnded;
}

void CUploadReceiver::OnPart(CMultipartReader::EEvent event, std::string_view data) {
    if (m_bEnded) {
        return;
    }
    switch (event) {
        case CMultipartReader::EEvent::PartBegins:
            BeginPart();
            break;
        case CMultipartReader::EEvent::Data:
            if (m_pFile) {
                Write(data);
            }
            break;
        case CMultipartReader::EEvent::PartEnds:
            EndPart();
            break;
        case CMultipartReader::EEvent::End:
            break;
    }
}

void CUploadReceiver::BeginPart() {
    const SPartHead& head = m_pForm->Head();
    if (!head.strFileName) {
        return;  // a plain field of the form: not a file
    }
    m_bAnyPart = true;
    const ENameVerdict verdict = JudgeUploadName(*head.strFileName);
    if (verdict != ENameVerdict::Kept) {
        m_outcome.refused.emplace_back(*head.strFileName, NameVerdictText(verdict));
        return;  // its bytes are read past
    }
    m_strName = *head.strFileName;
    m_pFile = std::make_unique<CUploadFile>();
    if (!m_pFile->Open(m_hFolder)) {
        EndOnError(errno);
    }
}

void CUploadReceiver::EndPart() {
    if (m_pFile) {
        Store(m_strName, true);
    }
}

void CUploadReceiver::Write(std::string_view bytes) {
    if (!m_pFile->Write(bytes)) {
        EndOnError(errno);  // a file cut short is never stored
    }
}

void CUploadReceiver::Store(const std::string& strName, bool bNumbered) {
    std::unique_ptr<CUploadFile> pFile = std::move(m_pFile);
    std::string strTry = strName;
    for (unsigned nNumber = 1;; ++nNumber) {
        switch (pFile->Name(strTry)) {
            case CUploadFile::EName::Named:
                m_outcome.stored.push_back(strTry);
                if (m_stored) {
                    m_stored(strTry);
                }
                return;
            case CUploadFile::EName::Failed:
                EndOnError(errno);
                return;
            case CUploadFile::EName::Exists:
                break;
        }
        strTry = bNumbered && nNumber <= kMaxNumbered ? NumberedName(strName, nNumber) : "";
        if (strTry.empty()) {
            if (bNumbered) {
                m_outcome.refused.emplace_back(strName, "too many files have this name");
            } else {
                EndEarly(SUploadOutcome::EEnd::Exists);
            }
            return;
        }
    }
}

void CUploadReceiver::EndEarly(SUploadOutcome::EEnd end, int nError) {
    m_pFile.reset();
    m_bEnded = true;
    m_outcome.end = end;
    m_outcome.nError = nError;
}

void CUploadReceiver::EndOnError(int nError) {
    EndEarly(nError == ENOSPC || nError == EDQUOT ? SUploadOutcome::EEnd::NoRoom
                                                  : SUploadOutcome::EEnd::Failed,
             nError);
}

const SUploadOutcome& CUploadReceiver::Finish() {
    if (m_bEnded) {
        return m_outcome;
    }
    if (!m_pForm) {
        Store(m_strName, false);
    } else if (!m_pForm->Ended()) {
        EndEarly(SUploadOutcome::EEnd::BadForm);  // the body ended inside the form
    } else if (!m_bAnyPart) {
        EndEarly(SUploadOutcome::EEnd::BadForm);  // nothing in it named a file
    }
    if (!m_bEnded && !m_outcome.refused.empty()) {
        m_outcome.end = SUploadOutcome::EEnd::Refused;
    }
    m_bEnded = true;
    return m_outcome;
}
