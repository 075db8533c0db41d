// Every EMS reader fed cut and corrupted files: the result is 0 or 1, the
// record stays releasable, and nothing is read outside the bytes of the
// file (AddressSanitizer checks that in the sanitizer build).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "msgstore/ems.h"
#include "msgstore/platform.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Base {
  Bytes bytes;
  DWORD cbData;
};

class EmsRobustness : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(EMSMsgStore_CreateDir(false), 1);
  }

  Bytes Load(const std::string& rel) {
    std::ifstream in(Host(rel), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void Store(const std::string& rel, const Bytes& bytes) {
    std::ofstream out(Host(rel), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  // Three messages in each layout: empty, short, and long with content.
  void MakeBases(std::vector<Base>* current, std::vector<Base>* old) {
    static WCHAR shortText[] = u"Hi";
    static WCHAR longText[40];
    std::fill(longText, longText + 39, u'x');
    longText[39] = 0;
    static BYTE content[40];
    for (size_t i = 0; i < sizeof content; ++i) content[i] = static_cast<BYTE>(i * 7);

    tagMSGPROPS records[3] = {};
    records[1].pszSubject = shortText;
    records[1].pszMsgID = shortText;
    records[1].cbData = 3;
    records[1].pData = content;
    records[2].pszText1 = longText;
    records[2].pszText2 = shortText;
    records[2].pszTo = longText;
    records[2].pszText4 = shortText;
    records[2].cbData = sizeof content;
    records[2].pData = content;
    for (tagMSGPROPS& r : records) {
      ASSERT_EQ(EMSMsgStore_WriteToFile(path_, &r), 1);
      current->push_back({Load(file_), r.cbData});
      ASSERT_EQ(EMSMsgStore_WriteToFileOld(path_, &r), 1);
      old->push_back({Load(file_), r.cbData});
    }
  }

  struct Results {
    int full, fullNoContent, quick, old, oldNoContent;
  };

  // Runs every message reader on bytes with one record, so that each read
  // also replaces what the one before left.
  Results ReadAll(const Bytes& bytes) {
    Store(file_, bytes);
    tagMSGPROPS p{};
    Results r{};
    r.full = EMSMsgStore_ReadFromFile(path_, &p, true);
    CheckContent(p, r.full);
    r.quick = EMSMsgStore_QuickReadFromFile(false, 1, 1, &p);
    r.fullNoContent = EMSMsgStore_ReadFromFile(path_, &p, false);
    if (r.fullNoContent) {
      EXPECT_EQ(p.pData, nullptr);
    }
    r.old = EMSMsgStore_ReadFromFileOld(path_, &p, true);
    CheckContent(p, r.old);
    r.oldNoContent = EMSMsgStore_ReadFromFileOld(path_, &p, false);
    EMSMsgStore_FreeMsgProps(&p);
    for (int v : {r.full, r.fullNoContent, r.quick, r.old, r.oldNoContent}) {
      EXPECT_TRUE(v == 0 || v == 1) << v;
    }
    return r;
  }

  static void CheckContent(const tagMSGPROPS& p, int ok) {
    if (!ok) return;
    ASSERT_NE(p.pData, nullptr);
    EXPECT_EQ(p.pData[p.cbData], 0);
  }

  WCHAR path_[64] = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\INBOX\\1.sms";
  const std::string file_ = "DiskOnChip/User/MESSAGING/EMS/INBOX/1.sms";
  const std::string index_ = "DiskOnChip/User/MESSAGING/EMS/INBOX/EmsIni";
};

// A cut file is read whole only when the fields that a reader needs are all
// inside it.
TEST_F(EmsRobustness, EveryTruncationOfValidFiles) {
  std::vector<Base> current, old;
  MakeBases(&current, &old);
  for (const Base& b : current) {
    const size_t size = b.bytes.size();
    const size_t untilUser3 = size - b.cbData - 4;  // no content: up to dwUser3
    const size_t untilMsgId = untilUser3 - 8;       // quick read: up to pszMsgID
    for (size_t len = 0; len <= size; ++len) {
      SCOPED_TRACE("current " + std::to_string(size) + " cut at " + std::to_string(len));
      Results r = ReadAll(Bytes(b.bytes.begin(), b.bytes.begin() + len));
      EXPECT_EQ(r.full, len == size ? 1 : 0);
      EXPECT_EQ(r.fullNoContent, len > 32 && len >= untilUser3 ? 1 : 0);
      EXPECT_EQ(r.quick, len > 32 && len >= untilMsgId ? 1 : 0);
    }
  }
  for (const Base& b : old) {
    const size_t size = b.bytes.size();
    const size_t untilUser3 = size - b.cbData - 4;
    for (size_t len = 0; len <= size; ++len) {
      SCOPED_TRACE("old " + std::to_string(size) + " cut at " + std::to_string(len));
      Results r = ReadAll(Bytes(b.bytes.begin(), b.bytes.begin() + len));
      EXPECT_EQ(r.old, len == size ? 1 : 0);
      EXPECT_EQ(r.oldNoContent, len >= untilUser3 ? 1 : 0);
    }
  }
  // The message file was there every time: the index was never touched.
  EXPECT_FALSE(fs::exists(Host(index_)));
}

TEST_F(EmsRobustness, SeededRandomCorruptions) {
  std::vector<Base> current, old;
  MakeBases(&current, &old);
  std::vector<Base> bases = current;
  bases.insert(bases.end(), old.begin(), old.end());

  std::mt19937 rng(20240607u);
  auto below = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(rng() % n); };
  const uint32_t huge[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0x00010000u};
  auto put32 = [](Bytes& f, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4 && at + i < f.size(); ++i)
      f[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };

  int accepted = 0;
  for (int iteration = 0; iteration < 2000; ++iteration) {
    const Base& base = bases[below(bases.size())];
    Bytes f = base.bytes;
    const int edits = 1 + static_cast<int>(below(3));
    for (int e = 0; e < edits && !f.empty(); ++e) {
      switch (below(6)) {
        case 0:  // flip a byte
          f[below(f.size())] ^= static_cast<uint8_t>(1 + below(255));
          break;
        case 1:  // a huge length anywhere
          put32(f, below(f.size()), huge[below(std::size(huge))]);
          break;
        case 2:  // a huge cbData (current and old layouts end alike)
          if (f.size() >= base.cbData + 4)
            put32(f, f.size() - base.cbData - 4, huge[below(std::size(huge))]);
          break;
        case 3: {  // cut string terminators from some point on
          for (size_t i = below(f.size()) & ~size_t{1}; i + 1 < f.size(); i += 2)
            if (f[i] == 0 && f[i + 1] == 0) f[i] = 'A';
          break;
        }
        case 4:  // cut the file short
          f.resize(below(f.size() + 1));
          break;
        default:  // trailing garbage
          for (size_t n = below(9); n > 0; --n) f.push_back(static_cast<uint8_t>(rng()));
          break;
      }
    }
    Results r = ReadAll(f);
    accepted += r.full + r.old;
    if (HasFailure()) {
      ADD_FAILURE() << "iteration " << iteration;
      break;
    }
  }
  // The corruptions leave some files readable and make others fail.
  EXPECT_GT(accepted, 0);
  EXPECT_LT(accepted, 2 * 2000);
}

// Index files of any content: the quick list, the add and the removal
// parse only whole records and rewrite the file consistently.
TEST_F(EmsRobustness, IndexReadersOnArbitraryFiles) {
  std::mt19937 rng(777u);
  for (int iteration = 0; iteration < 250; ++iteration) {
    Bytes f(rng() % 100);
    for (uint8_t& b : f) b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : 0);
    const size_t n = f.size() / 16;
    SCOPED_TRACE("index of " + std::to_string(f.size()) + " bytes");

    Store(index_, f);
    CArray<tagOidArray, tagOidArray> list;
    list.Add({1, 1, 1});
    // An empty file is not read: 0, and the list is kept.
    EXPECT_EQ(EMSMsgStore_GetQuickMsgList(list, 1), n);
    ASSERT_EQ(static_cast<size_t>(list.GetSize()), f.empty() ? 1u : n);
    for (size_t i = 0; i < n; ++i) {
      const uint8_t* r = &f[16 * i];
      EXPECT_EQ(list[static_cast<long>(i)].byFolder, r[0]);
      EXPECT_EQ(list[static_cast<long>(i)].dwOid,
                r[4] | r[5] << 8 | r[6] << 16 | static_cast<DWORD>(r[7]) << 24);
    }

    const DWORD newOid = static_cast<DWORD>(rng() % 4);
    const FILETIME newTime = {static_cast<DWORD>(rng() % 4), static_cast<DWORD>(rng() % 2)};
    EMSMsgStore_AddMsgToIni(newOid, 1, newTime);
    EXPECT_EQ(Load(index_).size(), f.empty() ? 0u : (n + 1) * 16);

    Store(index_, f);
    const DWORD oid = static_cast<DWORD>(rng() % 4);
    const DWORD folder = static_cast<DWORD>(rng() % 2);  // folder 0 is no folder: nothing happens
    EMSMsgStore_DeleteMsgFromIni(oid, folder);
    bool exists = fs::exists(Host(index_));
    size_t after = exists ? Load(index_).size() : 0;
    if (folder == 0) {
      EXPECT_EQ(after, f.size());
    } else if (n == 1) {
      EXPECT_TRUE(after == f.size() || !exists);
    } else {
      EXPECT_TRUE(after == f.size() || after == (n - 1) * 16) << after;
      EXPECT_TRUE(exists);
    }
  }
}

}  // namespace
