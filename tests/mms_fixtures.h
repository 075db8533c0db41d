// Shared by the MMS tests: a device with both MMS trees, messages put straight
// into files, and readers of the files, indexes and counter that do not go
// through the library.
#ifndef MSGSTORE_TESTS_MMS_FIXTURES_H_
#define MSGSTORE_TESTS_MMS_FIXTURES_H_

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "msgstore/mms.h"
#include "msgstore/platform.h"
#include "test_support.h"

namespace msgstore_test {

using Bytes = std::vector<uint8_t>;

// Little-endian byte builder for expected files, independent of the library.
struct ByteBuilder {
  Bytes b;
  ByteBuilder& U16(uint16_t v) { return Raw({uint8_t(v), uint8_t(v >> 8)}); }
  ByteBuilder& U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
  ByteBuilder& Time(FILETIME t) { return U32(t.dwLowDateTime).U32(t.dwHighDateTime); }
  ByteBuilder& Str(const WCHAR* s) {
    for (; s && *s; ++s) U16(*s);
    return U16(0);
  }
  ByteBuilder& Raw(const Bytes& raw) {
    b.insert(b.end(), raw.begin(), raw.end());
    return *this;
  }
  ByteBuilder& Patch(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
    return *this;
  }
};

inline Bytes Load(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline void Store(const Bytes& bytes, const std::string& hostPath) {
  std::ofstream(hostPath, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

class MmsTest : public DeviceTest {
 protected:
  static constexpr DWORD kInbox = MMS_FOLDER_INBOX, kDraft = MMS_FOLDER_DRAFT,
                         kSent = MMS_FOLDER_SENT, kUnsent = MMS_FOLDER_UNSENT,
                         kReport = MMS_FOLDER_REPORT, kSpam = MMS_FOLDER_SPAM,
                         kNone = MMS_FOLDER_NONE, kAutoDownload = MMS_FOLDER_AUTODOWNLOAD;
  static constexpr DWORD kAuto = static_cast<DWORD>(STORAGE_AUTO), kBodySize = 10;
  using IndexRecord = std::array<DWORD, 4>;  // folder, identifier, time low, time high

  // Both records of a message read by the library, released on the way out.
  struct Record {
    Record() = default;
    Record(bool card, DWORD folder, DWORD oid) {
      ok = MMSMsgStore_ReadFolderMessage(card, folder, -1, oid, true, &props, &mms);
    }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
    ~Record() { MMSMsgStore_FreeMsgProps(&props, &mms); }
    tagMSGPROPS props{};
    tagMMSMSGPROPS mms{};
    int ok = 0;
  };

  // A message to write, whose strings are literals and whose body is 10 bytes.
  struct Message {
    explicit Message(DWORD folder, DWORD time = 10, BOOL read = 0, WORD status = 0,
                     const WCHAR* text1 = u"text", const WCHAR* subject = u"subject") {
      props.dwFolder = folder;
      props.ftIndexTime = {time, 0};
      props.bRead = read;
      props.wStatus = status;
      props.pszText1 = const_cast<WCHAR*>(text1);
      props.pszSubject = const_cast<WCHAR*>(subject);
      props.cbData = kBodySize;
      props.pData = body;
      mms.wMmsQuick1 = 0x5151;
      mms.pszMmsText = const_cast<WCHAR*>(u"mms");
    }
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    tagMSGPROPS props{};
    tagMMSMSGPROPS mms{};
    BYTE body[kBodySize] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  };

  void SetUp() override {
    DeviceTest::SetUp();
    Reset();
  }
  // Starts over on an empty device with both trees.
  void Reset() {
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ + "/SD Card");
    msgstore::SetDeviceRoot(root_);
    MMSMsgStore_CreateDir(false);
    MMSMsgStore_CreateDir(true);
  }

  // Stores a message file under oid, bypassing the write path and the index.
  void Put(bool card, DWORD folder, DWORD oid, DWORD time, BOOL read = 0, WORD status = 0,
           const WCHAR* text1 = u"text", const WCHAR* subject = u"subject") {
    Message m(folder, time, read, status, text1, subject);
    m.props.dwOid = oid;
    WCHAR path[MAX_PATH] = {};
    ASSERT_EQ(1, MMSMsgStore_GetFilePath(card, oid, folder, path));
    ASSERT_EQ(1, MMSMsgStore_WriteToFile(path, &m.props, &m.mms));
  }
  // Stores count (over 50) messages numbered from 1001 in phone memory, 3001
  // on the card; the oldest, number + 50, is neither the lowest, the highest
  // nor the first written. Phone folders get their index written whole.
  void Fill(bool card, DWORD folder, DWORD count) {
    std::vector<IndexRecord> records;
    for (DWORD i = 0; i < count; ++i) {
      const DWORD oid = (card ? 3001 : 1001) + i, time = 100 + (i + count - 50) % count;
      Put(card, folder, oid, time);
      records.push_back({folder, oid, time, 0});
    }
    std::sort(records.begin(), records.end(),
              [](const IndexRecord& a, const IndexRecord& b) { return a[2] > b[2]; });
    if (!card && folder != kAutoDownload) SetIndex(folder, records);
  }
  // A new message through the write path, without storage argument.
  DWORD Write(bool card, DWORD folder, DWORD time) {
    Message m(folder, time);
    const DWORD oid = MMSMsgStore_WriteMessage(card, &m.props, &m.mms, 0, nullptr);
    EXPECT_NE(0u, oid);
    return oid;
  }

  std::string Dir(bool card, DWORD folder) const {
    static const char* const kNames[] = {"",       "INBOX",  "DRAFT", "SENT",
                                         "UNSENT", "REPORT", "SPAM",  "",
                                         "NONE",   "",       "",      "AUTODOWNLOAD"};
    return Host(std::string(card ? "SD Card" : "DiskOnChip") + "/User/MESSAGING/MMS/" +
                kNames[folder]);
  }
  std::string File(bool card, DWORD folder, DWORD oid) const {
    return Dir(card, folder) + "/" + std::to_string(static_cast<int>(oid)) + ".mms";
  }
  bool Exists(bool card, DWORD folder, DWORD oid) const {
    return std::filesystem::exists(File(card, folder, oid));
  }
  // Message files in a directory, counted by the file system.
  size_t Count(bool card, DWORD folder) const {
    size_t n = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(Dir(card, folder), ec))
      n += e.path().extension() == ".mms";
    return n;
  }
  std::string IndexFile(DWORD folder) const { return Dir(false, folder) + "/MmsIni"; }
  std::vector<IndexRecord> Index(DWORD folder) const {
    const Bytes b = Load(IndexFile(folder));
    std::vector<IndexRecord> out(b.size() / 16);
    for (size_t i = 0; i < out.size() * 16; ++i)
      out[i / 16][i % 16 / 4] |= DWORD{b[i]} << (8 * (i % 4));
    return out;
  }
  std::vector<DWORD> Oids(DWORD folder) const {
    std::vector<DWORD> out;
    for (const IndexRecord& r : Index(folder)) out.push_back(r[1]);
    return out;
  }
  void SetIndex(DWORD folder, const std::vector<IndexRecord>& records) {
    ByteBuilder b;
    for (const IndexRecord& r : records)
      for (DWORD v : r) b.U32(v);
    Store(b.b, IndexFile(folder));
  }
  std::string CounterFile() const { return Host("DiskOnChip/User/MESSAGING/MMS/MMSDB.ini"); }
  Bytes Counter() const { return Load(CounterFile()); }
  void SetCounter(DWORD value) { Store(ByteBuilder().U32(value).b, CounterFile()); }
};

}  // namespace msgstore_test

#endif  // MSGSTORE_TESTS_MMS_FIXTURES_H_
