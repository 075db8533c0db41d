// Fixtures shared by the EMS write, update, listing and reliability tests.
#ifndef MSGSTORE_TESTS_EMS_FIXTURES_H_
#define MSGSTORE_TESTS_EMS_FIXTURES_H_

#include <algorithm>
#include <set>

#include "common/index_file.h"
#include "ems/ems_internal.h"
#include "msgstore/ems.h"
#include "test_support.h"

namespace msgstore_test {

// A device with both EMS trees.
class EmsTest : public DeviceTest {
 protected:
  EmsTest() { store_ = &msgstore::SmsStore(), createDir_ = EMSMsgStore_CreateDir; }
  using Calls = std::vector<std::string>;
  using Entries = std::vector<std::pair<DWORD, DWORD>>;  // (oid, folder)
  static constexpr DWORD kInbox = EMS_FOLDER_INBOX, kDraft = EMS_FOLDER_DRAFT,
                         kSent = EMS_FOLDER_SENT, kUnsent = EMS_FOLDER_UNSENT,
                         kReport = EMS_FOLDER_REPORT, kSpam = EMS_FOLDER_SPAM,
                         kSimInbox = EMS_FOLDER_SIM_INBOX, kSimSent = EMS_FOLDER_SIM_SENT,
                         kSimUnsent = EMS_FOLDER_SIM_UNSENT;

  // A record read by the library (folder 0: by identifier alone), released
  // on the way out.
  struct Record {
    Record(bool card, DWORD folder, DWORD oid, int position = -1) : props{} {
      ok = folder == 0 ? EMSMsgStore_ReadMessage(card, oid, true, &props)
                       : EMSMsgStore_ReadFolderMessage(card, folder, position, oid, true, &props);
    }
    ~Record() { EMSMsgStore_FreeMsgProps(&props); }
    tagMSGPROPS props;
    int ok = 0;
  };

  // A message file under oid, bypassing the write path and the index.
  void Put(bool card, DWORD folder, DWORD oid, DWORD time, BOOL read = 0,
           const WCHAR* subject = u"s") {
    tagMSGPROPS props = Message(folder, time, read, subject);
    props.dwOid = oid;
    WCHAR path[MAX_PATH] = {};
    ASSERT_EQ(1, EMSMsgStore_GetFilePath(card, oid, folder, path));
    ASSERT_EQ(1, EMSMsgStore_WriteToFile(path, &props));
  }
  // count (over 50) messages numbered from 1001 on the phone (indexed), 3001 on
  // the card (FillWith).
  void Fill(bool card, DWORD folder, DWORD count) {
    const Bytes index = FillWith(folder, card ? 3001 : 1001, count,
                                 [&](DWORD oid, DWORD time) { Put(card, folder, oid, time); });
    WCHAR path[MAX_PATH] = {};
    if (!card && msgstore::ems::IndexPath(IndexOf(folder), path)) Store(index, Host(path));
  }
  DWORD Write(bool card, DWORD folder, DWORD time, BOOL read = 0) {
    tagMSGPROPS props = Message(folder, time, read, u"subject");
    const DWORD oid = EMSMsgStore_WriteMessage(card, &props, 0, nullptr);
    EXPECT_NE(0u, oid);
    return oid;
  }
  DWORD Count(bool card, DWORD folder) { return EMSMsgStore_GetFolderMessageCount(card, folder); }
  // The folder whose index takes folder's messages.
  static DWORD IndexOf(DWORD folder) {
    const msgstore::FolderDescription* f = msgstore::SmsStore().Folder(folder);
    return f != nullptr && f->indexed() ? f->indexFolder : folder;
  }
  // The quick list of folder's own index.
  Entries Index(DWORD folder) {
    CMsgList list;
    EMSMsgStore_GetQuickMsgList(list, folder);
    Entries out;
    for (long i = 0; i < list.GetSize(); ++i) out.push_back({list[i].dwOid, list[i].byFolder});
    return out;
  }
  // Whether the index that takes folder's messages has (oid, folder).
  bool Indexed(DWORD folder, DWORD oid) {
    const Entries index = Index(IndexOf(folder));
    return std::find(index.begin(), index.end(), std::make_pair(oid, folder)) != index.end();
  }
};

}  // namespace msgstore_test

#endif  // MSGSTORE_TESTS_EMS_FIXTURES_H_
