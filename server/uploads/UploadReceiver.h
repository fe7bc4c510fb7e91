// The body of one upload, taken as it arrives: a PUT's bytes are one file, a
// form's parts are judged and stored one by one. Each file is stored only once
// whole, under a name nothing else has; whatever ends an upload early leaves
// no file behind.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "MultipartReader.h"
#include "UploadFile.h"

struct SUploadOutcome {
    enum class EEnd {
        Stored,   // every file was stored
        Refused,  // a form's part was refused by its name; the rest was stored
        Exists,   // the PUT's name is taken: nothing changed
        NoRoom,   // the disk filled up: the file being written is gone
        BadForm,  // the form could not be read, or held no file
        Failed,   // the folder did not take the file
    } end = EEnd::Stored;
    int nError = 0;                                           // Failed: the reason
    std::vector<std::string> stored;                          // names as stored
    std::vector<std::pair<std::string, std::string>> refused;  // name as sent, why
};

// The folder, not the disk, refused the file: no permission, or read-only.
bool IsRefusedByFolder(int nError);

class CUploadReceiver : private CMultipartReader::CSink {
public:
    using StoredHook = std::function<void(const std::string& strName)>;

    // hFolder: the open folder the files go to, owned from now on. A PUT's
    // body is the file strName; a form's (strBoundary) holds the files.
    static std::unique_ptr<CUploadReceiver> ForFile(int hFolder, std::string strName,
                                                    uint64_t nLength, StoredHook stored);
    static std::unique_ptr<CUploadReceiver> ForForm(int hFolder, std::string strBoundary,
                                                    uint64_t nLength, StoredHook stored);
    ~CUploadReceiver() override;
    CUploadReceiver(const CUploadReceiver&) = delete;
    CUploadReceiver& operator=(const CUploadReceiver&) = delete;

    // A PUT's file is begun before its body is read; false (with errno) when
    // the folder takes none.
    bool Begin();
    // The next bytes of the body; those beyond its length are not taken.
    // False once the upload has ended early (Outcome says why): the rest is
    // not stored.
    bool Take(std::string_view bytes);
    uint64_t Remaining() const { return m_nLength - m_nReceived; }
    uint64_t Received() const { return m_nReceived; }
    bool Ended() const { return m_bEnded; }
    // The whole body has come: stores what is left to store.
    const SUploadOutcome& Finish();
    const SUploadOutcome& Outcome() const { return m_outcome; }

private:
    CUploadReceiver(int hFolder, uint64_t nLength, StoredHook stored);
    void OnPart(CMultipartReader::EEvent event, std::string_view data) override;
    void BeginPart();
    void EndPart();
    void Write(std::string_view bytes);
    // The file under strName, or a numbered name when a form's name is taken.
    void Store(const std::string& strName, bool bNumbered);
    void EndEarly(SUploadOutcome::EEnd end, int nError = 0);
    // A call of the file system failed with nError: a full disk, or the folder.
    void EndOnError(int nError);

    int m_hFolder;
    uint64_t m_nLength;
    uint64_t m_nReceived = 0;
    StoredHook m_stored;
    std::string m_strName;                      // of the file being received
    std::unique_ptr<CUploadFile> m_pFile;       // the file being received, nameless
    std::unique_ptr<CMultipartReader> m_pForm;  // a form's reader
    bool m_bAnyPart = false;                    // a form's part named a file
    bool m_bEnded = false;
    SUploadOutcome m_outcome;
};
