// Shared by the MMS and e-mail tests: a device with both MMS trees, messages
// put straight into files, and readers of the files, indexes and counter that
// do not go through the library.
#ifndef MSGSTORE_TESTS_MMS_FIXTURES_H_
#define MSGSTORE_TESTS_MMS_FIXTURES_H_

#include <algorithm>

#include "msgstore/mms.h"
#include "test_support.h"

namespace msgstore_test {

class MmsTest : public DeviceTest {
 protected:
  MmsTest() { store_ = &msgstore::MmsStore(), createDir_ = MMSMsgStore_CreateDir; }
  static constexpr DWORD kInbox = MMS_FOLDER_INBOX, kDraft = MMS_FOLDER_DRAFT,
                         kSent = MMS_FOLDER_SENT, kUnsent = MMS_FOLDER_UNSENT,
                         kReport = MMS_FOLDER_REPORT, kSpam = MMS_FOLDER_SPAM,
                         kNone = MMS_FOLDER_NONE, kAutoDownload = MMS_FOLDER_AUTODOWNLOAD;
  static constexpr DWORD kAuto = static_cast<DWORD>(STORAGE_AUTO), kBodySize = 10;

  // Both records of a message read by the library, released on the way out.
  struct Record {
    Record() = default;
    Record(bool card, DWORD folder, DWORD oid) {
      ok = MMSMsgStore_ReadFolderMessage(card, folder, -1, oid, true, &props, &mms);
    }
    ~Record() { MMSMsgStore_FreeMsgProps(&props, &mms); }
    tagMSGPROPS props{};
    tagMMSMSGPROPS mms{};
    int ok = 0;
  };

  // A message to write, whose strings are literals and whose body is 10 bytes.
  struct Message {
    explicit Message(DWORD folder, DWORD time = 10, BOOL read = 0, WORD status = 0,
                     const WCHAR* text1 = u"text", const WCHAR* subject = u"subject") {
      props.dwFolder = folder, props.ftIndexTime = {time, 0}, props.bRead = read;
      props.wStatus = status, props.pszText1 = const_cast<WCHAR*>(text1);
      props.pszSubject = const_cast<WCHAR*>(subject), props.cbData = kBodySize, props.pData = body;
      mms.wMmsQuick1 = 0x5151, mms.pszMmsText = const_cast<WCHAR*>(u"mms");
    }
    tagMSGPROPS props{};
    tagMMSMSGPROPS mms{};
    BYTE body[kBodySize] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  };

  // Stores a message file under oid, bypassing the write path and the index.
  void Put(bool card, DWORD folder, DWORD oid, DWORD time, BOOL read = 0, WORD status = 0,
           const WCHAR* text1 = u"text", const WCHAR* subject = u"subject") {
    Message m(folder, time, read, status, text1, subject);
    m.props.dwOid = oid;
    WCHAR path[MAX_PATH] = {};
    ASSERT_EQ(1, MMSMsgStore_GetFilePath(card, oid, folder, path));
    ASSERT_EQ(1, MMSMsgStore_WriteToFile(path, &m.props, &m.mms));
  }
  // count (over 50) messages numbered from 1001 in phone memory (2001 on the
  // card: FillWith); the phone index, if the folder has one, is written whole.
  void Fill(DWORD folder, DWORD count, bool card = false) {
    const Bytes index = FillWith(folder, card ? 2001 : 1001, count,
                                 [&](DWORD oid, DWORD time) { Put(card, folder, oid, time); });
    if (!card && folder != kAutoDownload) Store(index, IndexFile(folder));
  }
  // A new message through the write path, without storage argument.
  DWORD Write(bool card, DWORD folder, DWORD time) {
    Message m(folder, time);
    const DWORD oid = MMSMsgStore_WriteMessage(card, &m.props, &m.mms, 0, nullptr);
    EXPECT_NE(0u, oid);
    return oid;
  }

  // The identifiers of the message files of a directory (none when it is
  // missing), in the order in which the directory is enumerated.
  std::vector<DWORD> Files(bool card, DWORD folder) const {
    std::vector<DWORD> oids;
    std::error_code missing;
    for (const auto& e : std::filesystem::directory_iterator(Dir(card, folder), missing))
      if (e.path().extension() == Ascii(msgstore::MmsStore().extension))
        oids.push_back(std::stoul(e.path().stem().string()));
    return oids;
  }
  size_t Count(bool card, DWORD folder) const { return Files(card, folder).size(); }
  std::string IndexFile(DWORD folder) const {
    return Dir(false, folder) + "/" + Ascii(msgstore::MmsStore().indexName);
  }
  IndexRecords Index(DWORD folder) const { return LoadIndex(IndexFile(folder)); }
};

}  // namespace msgstore_test

#endif  // MSGSTORE_TESTS_MMS_FIXTURES_H_
