// The libFuzzer harness of every reader of files a device may hold, built
// once per harness with MSGSTORE_FUZZ_HARNESS naming it (kHarnesses). The
// sanitizers catch crashes, reads out of bounds and leaks; each harness also
// checks a few promises of its reader that a wrong offset or length breaks.
#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include "common/id_counter.h"
#include "common/index_file.h"
#include "email/email_accounts.h"
#include "fuzz_support.h"
#include "platform/handset_state.h"

namespace {

using namespace msgstore_fuzz;
using msgstore::DefaultPlatform;
using msgstore::IndexRecord;

constexpr DWORD kOid = 1;
Kind g_kind = kNone;
const Store* g_store = nullptr;
bool g_old = false;  // the old layout of message files
WCHAR g_path[MAX_PATH], g_rewrite[MAX_PATH], g_index[MAX_PATH];

int Read(tagMSGPROPS* m, Extra* x, bool withBody) {  // the message file g_path
  return ReadFile(g_kind, g_old, g_path, m, x, withBody);
}

std::string Encode(tagMSGPROPS* m, Extra* x) {  // the file the writer makes of a record
  std::string out;
  FUZZ_CHECK(WriteFile(g_kind, g_old, g_rewrite, m, x) == 1 &&
             GetHostFile(msgstore::HostPath(g_rewrite), &out));
  return out;
}

WCHAR* Dup(const char16_t* text) {
  const size_t bytes = (std::char_traits<char16_t>::length(text) + 1) * sizeof(WCHAR);
  return static_cast<WCHAR*>(std::memcpy(std::malloc(bytes), text, bytes));
}

bool NoEmptyStrings(const tagMSGPROPS& m) {  // readers hand back empty strings as null
  for (const WCHAR* s :
       {m.pszSubject, m.pszText2, m.pszText1, m.pszTo, m.pszText3, m.pszText4, m.pszMsgID})
    if (s != nullptr && s[0] == 0) return false;
  return true;
}

// The input read with and without the body. The read with the body must give
// a record the writer turns back into the bytes read (bar the lengths at the
// head), its content where the reader took it, with a zero byte after it. The
// read without the body takes only the header length's bytes: it succeeds
// exactly when the fields end within them, and gives the same record bar the
// content. Empty strings read as null; a record read into is released first;
// the old layouts hold no pszText2 and leave the member alone.
void CheckRead(const uint8_t* data, size_t size) {
  const int lengthAt = g_kind == kEms ? -1 : g_old ? 0 : 4;          // of the fields' end
  const size_t fieldsAt = (g_old ? 0 : 4) + (lengthAt < 0 ? 0 : 4);  // after the lengths
  tagMSGPROPS full{}, head{};
  Extra fullX, headX;
  const WCHAR* kept[] = {full.pszText2 = Dup(u"kept"), head.pszText2 = Dup(u"kept")};
  const int withBody = Read(&full, &fullX, true), withoutBody = Read(&head, &headX, false);
  if (size < g_store->smallest[g_old]) FUZZ_CHECK(!withBody && !withoutBody);
  if (g_old) FUZZ_CHECK(full.pszText2 == kept[0] && head.pszText2 == kept[1]);
  if (withoutBody)
    FUZZ_CHECK(withoutBody == 1 && head.cbData == 0 && head.pData == nullptr &&
               NoEmptyStrings(head));
  if (withBody) {
    FUZZ_CHECK(withBody == 1 && NoEmptyStrings(full) && full.pData != nullptr &&
               full.pData[full.cbData] == 0);
    const std::string out = Encode(&full, &fullX);
    const auto* bytes = reinterpret_cast<const uint8_t*>(out.data());
    FUZZ_CHECK(out.size() >= fieldsAt);
    const size_t end = lengthAt < 0 ? out.size() : LoadU32(bytes + lengthAt);
    FUZZ_CHECK(fieldsAt <= end && end <= out.size() && end <= size &&
               std::memcmp(bytes + fieldsAt, data + fieldsAt, end - fieldsAt) == 0);
    if (lengthAt >= 0) {  // the content's length and bytes, MMS's where the header length points
      const size_t at = g_kind == kMms ? LoadU32(data + lengthAt) : end;
      const size_t content = out.size() - end;
      FUZZ_CHECK(content == 4 + size_t{full.cbData} && at + content <= size &&
                 std::memcmp(bytes + end, data + at, content) == 0);
    }
    FUZZ_CHECK(withoutBody == (lengthAt < 0 || LoadU32(data + lengthAt) >= end));
    if (withoutBody) {
      tagMSGPROPS bare = full;  // shares the strings, never released
      bare.cbData = 0;
      bare.pData = nullptr;
      FUZZ_CHECK(Encode(&head, &headX) == Encode(&bare, &fullX));
    }
  }
  FUZZ_CHECK(Read(&head, &headX, true) == withBody);
  Release(g_kind, &full, &fullX);
  Release(g_kind, &head, &headX);
}

// The quick read fills what a list shows: where the full reader succeeds it
// succeeds too (for e-mail, if the quick part lies within the quick length
// stored first) and agrees with it; it never touches the content or dwUser3,
// and leaves the message's index record alone, however bad the file.
void CheckQuick(const uint8_t* data, size_t size) {
  tagMSGPROPS quick{}, full{};
  Extra x, none;
  BYTE* body = quick.pData = static_cast<BYTE*>(std::calloc(4, 1));
  quick.cbData = 3;
  quick.dwUser3 = 0xD3;
  const int read = g_store->ops.quickRead(false, g_store->msgFolder, kOid, &quick);
  if (size < g_store->smallest[2]) FUZZ_CHECK(read == 0);
  FUZZ_CHECK(quick.cbData == 3 && quick.pData == body && quick.dwUser3 == 0xD3);
  if (Read(&full, &x, true)) {
    const size_t end = 32 + 2 * (Wide(full.pszSubject).size() + Wide(full.pszText2).size() + 2);
    FUZZ_CHECK(read == (g_kind != kEmail || end <= LoadU32(data) + size_t{4}));
    FUZZ_CHECK(!read || (quick.dwOid == full.dwOid && quick.bRead == full.bRead &&
                         quick.wStatus == full.wStatus && quick.dwFolder == full.dwFolder &&
                         !std::memcmp(&quick.ftIndexTime, &full.ftIndexTime, sizeof(FILETIME)) &&
                         Wide(quick.pszSubject) == Wide(full.pszSubject) &&
                         Wide(quick.pszText2) == Wide(full.pszText2)));
  }
  std::vector<IndexRecord> records;
  FUZZ_CHECK(msgstore::ReadIndex(g_index, &records) && records.size() == 1 &&
             records[0].oid == kOid);
  Release(g_kind, &quick, &none);
  Release(g_kind, &full, &x);
}

static_assert(sizeof(IndexRecord) == 16, "a record as the file holds it");
bool IndexHolds(const std::vector<IndexRecord>& want) {
  std::vector<IndexRecord> got;
  return msgstore::ReadIndex(g_index, &got) && got.size() == want.size() &&
         (got.empty() || std::memcmp(got.data(), want.data(), got.size() * 16) == 0);
}
uint64_t Ticks(const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

// Every whole 16-byte record comes back as it is in the file, through the
// reader and the quick list, the bytes after the last one ignored. The add
// puts its record before the first that is not later, the removal takes out
// the first with the identifier and folder, or the file with the last one.
// An empty file is neither read nor written.
void CheckIndex(const uint8_t* data, size_t size) {
  const Store& s = *g_store;
  std::vector<IndexRecord> want(size / 16);
  if (size >= 16) std::memcpy(want.data(), data, want.size() * 16);
  FUZZ_CHECK(IndexHolds(want) == (size > 0));
  CArray<tagOidArray, tagOidArray> list;
  list.Add({1, 99, 0xDEADBEEF});  // what an unreadable index leaves alone
  const DWORD count = s.list(list, s.indexFolder);
  FUZZ_CHECK(count == (size ? want.size() : 0) && list.GetSize() == (size ? long(count) : 1));
  for (long i = 0; i < list.GetSize(); ++i)
    FUZZ_CHECK(size == 0 ? list[0].dwOid == 0xDEADBEEF
                         : list[i].bMemoryCard == 0 && list[i].dwOid == want[size_t(i)].oid &&
                               list[i].byFolder == (want[size_t(i)].folder & 0xFF));

  constexpr DWORD kAdded = 0xFFFFFF00;  // added at the time of a record there: ties too
  const FILETIME time = want.empty() ? FILETIME{5, 5} : want[want.size() / 2].time;
  s.add(kAdded, s.addFolder, time);
  if (size == 0) {
    FUZZ_CHECK(!IndexHolds({}) && GetFileAttributesW(g_index) != INVALID_FILE_ATTRIBUTES);
    return;
  }
  auto at = want.begin();
  while (at != want.end() && Ticks(at->time) > Ticks(time)) ++at;
  want.insert(at, {s.addFolder, kAdded, time});
  FUZZ_CHECK(IndexHolds(want));
  s.remove(kAdded, s.addFolder);
  want.erase(std::find_if(want.begin(), want.end(), [&](const IndexRecord& r) {
    return r.oid == kAdded && r.folder == s.addFolder;
  }));
  FUZZ_CHECK(want.empty() ? GetFileAttributesW(g_index) == INVALID_FILE_ATTRIBUTES
                          : IndexHolds(want));
}

// The EMS counter file holds the last identifier in its first 4 bytes (a
// shorter file the rest zero): the next is one more, and all the file holds.
void CheckCounter(const uint8_t* data, size_t size) {
  const std::string host = msgstore::HostPath(msgstore::ems::kStore.counterFile);
  PutHostFile(host, data, size);
  uint8_t stored[4] = {};
  std::memcpy(stored, data, std::min<size_t>(size, 4));
  FUZZ_CHECK(msgstore::ReadIdCounter(msgstore::ems::kStore.counterFile) == LoadU32(stored));
  const DWORD next = msgstore::ems::GetNextEmsOid();
  std::string now;
  FUZZ_CHECK(next == LoadU32(stored) + 1 && GetHostFile(host, &now) && now.size() == 4 &&
             LoadU32(reinterpret_cast<const uint8_t*>(now.data())) == next);
}

// A registry value file holds the type (4 bytes) and the data; a shorter one
// is no value. Reads report both as they are, into heap buffers of exactly
// the room given, which AddressSanitizer watches.
void CheckRegistry(const uint8_t* data, size_t size) {
  PutHostFile(AccountIdValueFile(), data, size);
  HKEY key = nullptr;
  FUZZ_CHECK(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAccountsKey, 0, KEY_QUERY_VALUE, &key) == 0);
  DWORD type = 0, cb = 0;
  const LONG sized = RegQueryValueExW(key, kAccountIdValue, nullptr, &type, nullptr, &cb);
  FUZZ_CHECK(size < 4 ? sized == ERROR_FILE_NOT_FOUND
                      : sized == 0 && type == LoadU32(data) && cb == size - 4);
  for (const DWORD room : {DWORD{4}, cb}) {  // a DWORD's, and what the registry asked for
    if (size < 4) break;
    auto buffer = std::make_unique<BYTE[]>(room);
    DWORD got = room;
    const LONG r = RegQueryValueExW(key, kAccountIdValue, nullptr, nullptr, buffer.get(), &got);
    FUZZ_CHECK(got == size - 4 && r == (got > room ? ERROR_MORE_DATA : ERROR_SUCCESS));
    FUZZ_CHECK(r != ERROR_SUCCESS || std::memcmp(buffer.get(), data + 4, got) == 0);
  }
  FUZZ_CHECK(RegCloseKey(key) == 0);
}

// Whatever the handset's state file holds, the services answer within their
// ranges, and a change made through them keeps every other setting.
void CheckHandset(const uint8_t* data, size_t size) {
  PutHostFile(HandsetStateFile(), data, size);
  DefaultPlatform platform;
  const int card = platform.xGetSDCardState();  // no card is inserted
  FUZZ_CHECK(!platform.xGetSystemLanguage().empty() && (DefaultPlatform::GetCardFlags() & ~6) == 0);
  FUZZ_CHECK(card >= 0 && card <= 7 && (card & 1) == 0);
  uint64_t available = 0, total = 0, free = 0;
  FUZZ_CHECK(platform.GetDiskFreeSpaceExW(u"\\DiskOnChip", &available, &total, &free));
  FUZZ_CHECK(available <= total && free <= total);
  msgstore::platform::StateMap before = msgstore::platform::ReadHandsetState();
  platform.xSetUnsentSmsCountInSim(7);
  before["counter.UnsentInSim"] = "7";
  FUZZ_CHECK(DefaultPlatform::GetCounter("UnsentInSim") == 7 &&
             msgstore::platform::ReadHandsetState() == before);
  const DWORD received = DefaultPlatform::GetCounter("EmsRecv");
  platform.xSetEmsRecvMsgCount(-1);  // never below zero
  FUZZ_CHECK(DefaultPlatform::GetCounter("EmsRecv") == (received > 0 ? received - 1 : 0));
}

using Account = std::tuple<DWORD, DWORD, DWORD, WORD, WORD, std::u16string>;
std::vector<Account> LoadAccounts() {
  HANDLE store = nullptr;
  FUZZ_CHECK(EmailAccMsgStore_Open(&store) == 1 && store == &msgstore::email::AccountArray());
  std::vector<Account> out;
  const msgstore::EmailAccountArray& array = msgstore::email::AccountArray();
  for (long i = 0; i < array.GetSize(); ++i) {
    DWORD nth = 0;  // among the records of its folder
    for (long j = 0; j < i; ++j) nth += array[j].dwFolder == array[i].dwFolder;
    tagEMAILACCOUNTPROPS a{};
    FUZZ_CHECK(EmailMsgStore_ReadFolderAccount(store, array[i].dwFolder, nth, &a) == 1);
    FUZZ_CHECK(a.pszText == nullptr || (a.pszText[0] != 0 && Wide(a.pszText).size() <= 255));
    FUZZ_CHECK(a.dwData == array[i].dwData && Wide(a.pszText) == array[i].szText);
    out.emplace_back(a.dwData, a.dwFolder, a.dwAccountId, a.wData1, a.wData2, Wide(a.pszText));
    std::free(a.pszText);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The account database: a record count and records of at least 18 bytes.
// The load keeps only whole records, never more than claimed, every one of
// them readable; what is saved loads again to the same accounts.
void CheckAccounts(const uint8_t* data, size_t size) {
  PutHostFile(msgstore::HostPath(msgstore::email::kAccountStore.database), data, size);
  const std::vector<Account> loaded = LoadAccounts();
  FUZZ_CHECK(size < 4 ? loaded.empty()
                      : loaded.size() <= std::min<size_t>((size - 4) / 18, LoadU32(data)));
  FUZZ_CHECK(EmailMsgStore_Close(nullptr) == 1 && LoadAccounts() == loaded);
}

const struct Harness {
  const char* name;
  Kind store;
  bool old;
  void (*check)(const uint8_t*, size_t);
} kHarnesses[] = {  // clang-format off
    {"ems_read", kEms, false, CheckRead},          {"ems_read_old", kEms, true, CheckRead},
    {"ems_quick_read", kEms, false, CheckQuick},   {"ems_index", kEms, false, CheckIndex},
    {"ems_counter", kEms, false, CheckCounter},    {"mms_read", kMms, false, CheckRead},
    {"mms_read_old", kMms, true, CheckRead},       {"mms_quick_read", kMms, false, CheckQuick},
    {"mms_index", kMms, false, CheckIndex},        {"email_read", kEmail, false, CheckRead},
    {"email_read_old", kEmail, true, CheckRead},   {"email_quick_read", kEmail, false, CheckQuick},
    {"email_index", kEmail, false, CheckIndex},    {"email_accounts", kNone, false, CheckAccounts},
    {"registry", kNone, false, CheckRegistry},     {"handset_state", kNone, false, CheckHandset}};
// clang-format on
const Harness* g_harness = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (const Harness& h : kHarnesses)
    if (std::strcmp(h.name, MSGSTORE_FUZZ_HARNESS) == 0) g_harness = &h;
  FUZZ_CHECK(g_harness != nullptr);
  UseScratchRoot(g_harness->name);
  for (const WCHAR* dir :
       {u"\\DiskOnChip", u"\\DiskOnChip\\User", u"\\DiskOnChip\\User\\MESSAGING"})
    CreateDirectoryW(dir, nullptr);
  HKEY key = nullptr;  // where the registry harness puts its value
  FUZZ_CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAccountsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &key, nullptr) == 0 &&
             RegCloseKey(key) == 0);
  // The handset harness replaces the state file: it must be where the
  // platform keeps it.
  DefaultPlatform::SetCounter("SentInSim", 1);
  std::string stored;
  FUZZ_CHECK(GetHostFile(HandsetStateFile(), &stored) && stored == "counter.SentInSim=1\n");
  if (g_harness->store == kNone) return 0;
  g_kind = g_harness->store;
  g_store = &kStores[g_kind];
  g_old = g_harness->old;
  const bool index = g_harness->check == CheckIndex;
  const msgstore::StoreOps& ops = g_store->ops;
  FUZZ_CHECK(g_store->createDir(false) &&
             ops.getFilePath(false, kOid, g_store->msgFolder, g_path) &&
             ops.getFilePath(false, 2, g_store->msgFolder, g_rewrite) &&
             ops.indexFile(index ? g_store->indexFolder : g_store->msgFolder, g_index));
  if (g_harness->check == CheckQuick) g_store->add(kOid, g_store->msgFolder, {2, 2});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_store != nullptr && g_harness->check != CheckCounter)
    PutHostFile(msgstore::HostPath(g_harness->check == CheckIndex ? g_index : g_path), data, size);
  g_harness->check(data, size);
  return 0;
}
